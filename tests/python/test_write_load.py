"""Many processes storing bases at once, each with two threads, over the write-ahead log:
every basis built is stored, and no call warns; a store waiting beside a busy writer gets its
turn."""

import os
import sqlite3
import subprocess
import sys
import textwrap
import time

import tavrin
from spec_factory import cache_rows, spec_of, spin_key

WRITER = """
    import sys, threading, warnings
    import tavrin
    from tavrin import CGSpec, Edge, Spin
    warnings.simplefilter("error")  # a basis not stored would warn
    worker = int(sys.argv[1])
    def spec(spins):
        return CGSpec.from_edges([Edge.incoming(Spin(s)) for s in spins[:-1]]
                                 + [Edge.outgoing(Spin(spins[-1]))])
    LISTS = {lists!r}
    mine = LISTS[worker::{processes}]
    def store(part):
        for spins in part:
            tavrin.canonical_basis(spec(spins))
    threads = [threading.Thread(target=store, args=(mine[k::2],)) for k in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
"""


# Three edges of every coupling with 2j up to 24: about 2,500 small bases, so that the writers
# spend their time storing.
LISTS = [[a, b, c] for a in range(25) for b in range(25) for c in range(abs(a - b), a + b + 1, 2)
         if c <= 24]
PROCESSES = 8


def test_eight_processes_of_two_threads_store_every_basis(tmp_path):
    code = textwrap.dedent(WRITER).format(lists=LISTS, processes=PROCESSES)
    environment = {**os.environ, "TAVRIN_CACHE_PATH": str(tmp_path)}
    writers = [subprocess.Popen([sys.executable, "-c", code, str(k)], env=environment,
                                stderr=subprocess.PIPE, text=True) for k in range(PROCESSES)]
    failures = []
    for writer in writers:
        _, errors = writer.communicate(timeout=240)
        if writer.returncode != 0:
            failures.append(errors[-2000:])
    assert not failures, failures[0]
    with sqlite3.connect(tmp_path / "cgbasis.db") as database:
        stored = {row[0] for row in database.execute("SELECT spins FROM cgbasis")}
    database.close()
    assert stored == {spin_key(spins) for spins in LISTS}


# Takes the write lock back within a fraction of a millisecond of letting it go, for as long as
# it runs, as a busy writer process does.
HOG = """
    import sqlite3, sys, time
    database = sqlite3.connect(sys.argv[1], isolation_level=None, timeout=60)
    database.execute("BEGIN IMMEDIATE")
    print("holding", flush=True)
    while True:
        time.sleep(0.2)
        database.execute("COMMIT")
        time.sleep(0.0001)
        database.execute("BEGIN IMMEDIATE")
"""


def test_a_store_gets_its_turn_beside_a_writer_that_takes_the_lock_back_at_once(
        tmp_path, monkeypatch):
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(tmp_path))
    tavrin.canonical_basis(spec_of([2, 2, 2]))  # the database, in write-ahead-log mode
    hog = subprocess.Popen([sys.executable, "-c", textwrap.dedent(HOG),
                            str(tmp_path / "cgbasis.db")], stdout=subprocess.PIPE, text=True)
    try:
        assert hog.stdout.readline() == "holding\n"
        stored = [[4, 2, 4], [6, 2, 6], [8, 2, 8]]
        for spins in stored:
            time.sleep(0.3)  # the other writer back at its pace
            tavrin.canonical_basis(spec_of(spins))  # a basis not stored would warn: an error here
    finally:
        hog.kill()
        hog.communicate()
    assert {spin_key(s) for s in stored} <= set(cache_rows(tmp_path))
