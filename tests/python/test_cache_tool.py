"""The `tavrin cache` command on real caches: info, clear, prebuild (shards, MPI, Ctrl-C),
merge, verify, and its errors."""

import io
import math
import os
import shutil
import signal
import sqlite3
import struct
import subprocess
import sys
import time
from contextlib import closing
from pathlib import Path

import numpy as np
import pytest

import tavrin
from spec_factory import connected, spec_of, spin_key

TOOL = [sys.executable, "-X", "dev", "-W", "error", "-m", "tavrin_cli"]  # any warning fails


def tool(*args, cache_dir=None, timeout=300):
    prefix = ["cache", "--cache-dir", str(cache_dir)] if cache_dir is not None else ["cache"]
    return subprocess.run([*TOOL, *prefix, *args], capture_output=True, text=True,
                          timeout=timeout)


def build(cache_dir, monkeypatch, *spin_lists):
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(cache_dir))
    for spins in spin_lists:
        tavrin.canonical_basis(spec_of(spins))


def rows(cache_dir):
    with connected(cache_dir / "cgbasis.db") as database:
        return {struct.unpack(f"<{len(key) // 4}i", key): data
                for key, data in database.execute("SELECT spins, data FROM cgbasis")}


def put_row(cache_dir, key, data):
    """A row written as another program would, into a cache the library made."""
    with connected(cache_dir / "cgbasis.db") as database:
        database.execute("INSERT OR REPLACE INTO cgbasis (spins, data) VALUES (?, ?)", (key, data))


def npy(array):
    buffer = io.BytesIO()
    np.save(buffer, array)
    return buffer.getvalue()


def library_rows(spin_lists, directory, monkeypatch):
    """The rows the library itself stores for the spin lists."""
    build(directory, monkeypatch, *spin_lists)
    return rows(directory)


def test_console_script_is_installed():
    script = Path(sys.executable).with_name("tavrin")
    if not script.exists():
        pytest.skip("not installed as a package here")
    result = subprocess.run([str(script), "--version"], capture_output=True, text=True)
    assert result.stdout.strip() == f"tavrin {tavrin.__version__}"


@pytest.mark.parametrize("command", [[], ["cache"], ["cache", "info"], ["cache", "clear"],
                                     ["cache", "prebuild"], ["cache", "merge"],
                                     ["cache", "verify"]],
                         ids=lambda c: " ".join(c) or "tavrin")
def test_every_command_has_help(command):
    result = subprocess.run([*TOOL, *command, "--help"], capture_output=True, text=True)
    assert result.returncode == 0
    assert result.stdout.startswith("usage: tavrin")


def test_shard_help_says_where_shards_count_from():
    result = subprocess.run([*TOOL, "cache", "prebuild", "--help"], capture_output=True, text=True)
    assert "I from 0 to N-1" in " ".join(result.stdout.split())


@pytest.mark.parametrize(
    "args, message",
    [
        (["cache"], "required"),
        (["cache", "merge"], "required: SOURCE"),
        (["cache", "info", "--largest", "0"], "0 is not at least 1"),
        (["cache", "prebuild", "--spins", "4-1", "--edges", "3"], "range '4-1' runs backwards"),
        (["cache", "prebuild", "--spins", "1/2", "--edges", "3"], "'1/2' is not a number"),
        (["cache", "prebuild", "--spins", "1", "--edges", "1"], "below the smallest allowed value 2"),
        (["cache", "prebuild", "--list", "1,-1"], "none negative"),
        (["cache", "prebuild", "--list", "1,1,1"], "spins 1,1,1: Invalid CGSpec"),
        (["cache", "prebuild"], "no spin list to build"),
        (["cache", "prebuild", "--spins", "0-9", "--edges", "9"], "too many to go through"),
        (["cache", "prebuild", "--list", "2,2", "--jobs", "two"], "'two' is not a whole number"),
        (["cache", "prebuild", "--list", "2,2", "--shard", "3"], "'3' is not a shard I/N"),
        (["cache", "prebuild", "--list", "2,2", "--shard", "4/4"], "runs from 0 to 3"),
        (["cache", "prebuild", "--list", "2,2", "--shard", "0/0"], "N is not at least 1"),
        (["cache", "verify", "--sample", "0"], "0 is not at least 1"),
    ],
)
def test_bad_arguments_are_refused_with_usage(args, message):
    result = subprocess.run([*TOOL, *args], capture_output=True, text=True)
    assert result.returncode == 2
    assert "usage: tavrin" in result.stderr and message in result.stderr


@pytest.mark.parametrize("where", ["before", "after", "both"])
def test_cache_dir_is_taken_before_or_after_the_action(tmp_path, where):
    before = ["--cache-dir", str(tmp_path / ("elsewhere" if where == "both" else "cache"))]
    after = ["--cache-dir", str(tmp_path / "cache")]
    args = {"before": [*before, "info"], "after": ["info", *after],
            "both": [*before, "info", *after]}[where]
    result = subprocess.run([*TOOL, "cache", *args], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    path = (tmp_path / "cache" / "cgbasis.db").resolve()
    assert result.stdout.splitlines()[0] == f"path:         {path}"


def test_info_shows_path_journal_mode_rows_and_largest_entries(tmp_path, monkeypatch):
    result = tool("info", cache_dir=tmp_path)
    assert result.returncode == 0 and "no cache file yet" in result.stdout
    build(tmp_path, monkeypatch, [1, 1], [2, 2, 2, 2], [1, 1, 2])
    result = tool("info", "--largest", "2", cache_dir=tmp_path)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[0] == f"path:         {(tmp_path / 'cgbasis.db').resolve()}"
    assert lines[1].startswith("journal mode: ")
    assert lines[2] == "bases:        3"
    assert lines[5].split()[:3] == ["spins", "(2j)", "2,2,2,2"]
    assert lines[6].split()[:3] == ["spins", "(2j)", "1,1,2"]
    assert len(lines) == 7


def test_output_into_a_closed_pipe_ends_quietly(tmp_path, monkeypatch):
    # As `tavrin cache info | head -1` does once head has its line.
    build(tmp_path, monkeypatch, [1, 1])
    reader, writer = os.pipe()
    os.close(reader)
    with os.fdopen(writer, "w") as closed:
        result = subprocess.run([*TOOL, "cache", "--cache-dir", str(tmp_path), "info"],
                                stdout=closed, stderr=subprocess.PIPE, text=True, timeout=60)
    assert (result.returncode, result.stderr) == (141, "")


@pytest.mark.parametrize("args", [["info"], ["verify"], ["prebuild", "--list", "2,2"],
                                  ["merge", "{other}"]], ids=lambda a: a[0])
def test_a_file_that_is_no_database_is_reported_in_one_line(tmp_path, monkeypatch, args):
    build(tmp_path / "other", monkeypatch, [1, 1])
    cache = tmp_path / "cache"
    cache.mkdir()
    (cache / "cgbasis.db").write_bytes(b"not a database, but long enough to be read as one" * 20)
    result = tool(*[a.format(other=tmp_path / "other") for a in args], cache_dir=cache)
    assert result.returncode == 1
    # One line: no traceback, and no connection left unclosed (a ResourceWarning under -W error).
    assert result.stderr.count("\n") == 1, result.stderr
    assert "is not a tavrin cache: file is not a database" in result.stderr


def test_clear_removes_every_basis_and_the_cache_keeps_working(tmp_path, monkeypatch):
    # Another process clears the cache: without the in-process store, whose decoded copies
    # would go on serving this one, the next request writes its row again.
    monkeypatch.setenv("TAVRIN_BASIS_STORE_BYTES", "0")
    build(tmp_path, monkeypatch, [1, 1], [2, 2, 2, 2])
    result = tool("clear", cache_dir=tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("removed 2 bases")
    assert "bases:        0\n" in tool("info", cache_dir=tmp_path).stdout
    assert tavrin.canonical_basis(spec_of([2, 2, 2, 2])).shape == (3, 3, 3, 3, 3)
    assert list(rows(tmp_path)) == [(2, 2, 2, 2)]


def damaged_cache(directory, monkeypatch):
    """A cache whose file was overwritten in the middle while this process has it open."""
    build(directory, monkeypatch, [2, 2, 2, 2], [2] * 6)
    database = directory / "cgbasis.db"
    with connected(database) as connection:
        connection.execute("PRAGMA wal_checkpoint(TRUNCATE)")
    data = bytearray(database.read_bytes())
    data[100:4096 * 3] = os.urandom(4096 * 3 - 100)
    database.write_bytes(bytes(data))


def not_a_database(directory, monkeypatch):
    (directory / "cgbasis.db").write_text("notes that happen to have this name\n" * 100)


@pytest.mark.parametrize("make", [damaged_cache, not_a_database])
def test_clear_removes_a_file_in_the_caches_place_that_is_no_sound_database(
        tmp_path, monkeypatch, make):
    make(tmp_path, monkeypatch)
    result = tool("clear", cache_dir=tmp_path)
    assert result.returncode == 0, result.stderr
    assert "it was not a cache database" in result.stdout
    assert sorted(p.name for p in tmp_path.iterdir()) == []
    # The library starts a new cache there, without a warning (warnings are errors here).
    monkeypatch.setenv("TAVRIN_BASIS_STORE_BYTES", "0")
    build(tmp_path, monkeypatch, [1, 1])
    assert list(rows(tmp_path)) == [(1, 1)]


def test_clear_leaves_a_database_of_something_else_alone(tmp_path):
    database = tmp_path / "cgbasis.db"
    with connected(database) as connection:
        connection.execute("CREATE TABLE runs (name TEXT)")
        connection.execute("INSERT INTO runs VALUES ('keep me')")
    before = database.read_bytes()
    result = tool("clear", cache_dir=tmp_path)
    assert result.returncode == 1
    assert "an SQLite database with tables runs but no table cgbasis" in result.stderr
    assert f"rm {database}" in result.stderr
    assert database.read_bytes() == before


def test_the_tool_makes_the_table_the_library_makes(tmp_path, monkeypatch):
    build(tmp_path / "library", monkeypatch, [1, 1])
    result = tool("merge", str(tmp_path / "library"), "--into", str(tmp_path / "tool"))
    assert result.returncode == 0, result.stderr

    def schema(directory):
        with connected(directory / "cgbasis.db") as connection:
            return connection.execute("SELECT type, name, sql FROM sqlite_master").fetchall()

    assert schema(tmp_path / "tool") == schema(tmp_path / "library")


def test_prebuild_stores_every_coupling_list_exactly_as_the_library_builds_it(tmp_path, monkeypatch):
    cache = tmp_path / "cache"
    dry = tool("prebuild", "--spins", "1-2", "--edges", "2-4", "--list", "4,4,4", "--dry-run",
               cache_dir=cache)
    assert dry.returncode == 0, dry.stderr
    assert not (cache / "cgbasis.db").exists()
    result = tool("prebuild", "--spins", "1-2", "--edges", "2-4", "--list", "4,4,4",
                  "--jobs", "2", cache_dir=cache)
    assert result.returncode == 0, result.stderr
    assert " on this machine" in result.stdout.split("workers:")[1]
    stored = rows(cache)
    assert "to build: %d bases" % len(stored) in dry.stdout
    assert (4, 4, 4) in stored and (1, 1) in stored and (1, 1, 1) not in stored
    assert stored == library_rows(stored, tmp_path / "reference", monkeypatch)
    estimate = sum(8 * math.prod(s + 1 for s in spins) * spec_of(spins).om_dimension()
                   for spins in stored)
    assert estimate == expected_bytes(dry.stdout)
    again = tool("prebuild", "--spins", "1-2", "--edges", "2-4", cache_dir=cache)
    assert "to build: 0 bases" in again.stdout


def expected_bytes(text):
    """The estimate the dry run printed, back in bytes (to the printed precision)."""
    amount, unit = text.split("about ")[1].split(" (")[0].split()
    return pytest.approx(float(amount) * {"B": 1, "KiB": 1024, "MiB": 1024**2}[unit], rel=1e-3)


REQUEST = ["--spins", "1-2", "--edges", "2-6", "--list", "4,4,4,4"]


def test_shards_built_apart_and_merged_make_the_whole_request(tmp_path, monkeypatch):
    whole = tmp_path / "whole"
    assert tool("prebuild", *REQUEST, "--jobs", "2", cache_dir=whole).returncode == 0
    shards = [tmp_path / f"shard-{index}" for index in range(3)]
    for index, shard in enumerate(shards):
        if index == 1:  # what a cache holds does not move the split: here a basis of shard 0's
            foreign = min(rows(shards[0]))
            build(shard, monkeypatch, foreign)
        result = tool("prebuild", *REQUEST, "--jobs", "1", "--shard", f"{index}/3",
                      cache_dir=shard)
        assert result.returncode == 0, result.stderr
    shard_rows = [rows(shard) for shard in shards]
    shard_rows[1].pop(foreign)
    assert sum(map(len, shard_rows)) == len(rows(whole))  # no basis in two shards
    sizes = [sum(map(len, r.values())) for r in shard_rows]
    assert max(sizes) - min(sizes) <= max(map(len, rows(whole).values()))  # balanced

    merged = tool("merge", *map(str, shards), "--into", str(tmp_path / "final"))
    assert merged.returncode == 0, merged.stderr
    assert rows(tmp_path / "final") == rows(whole)
    verified = tool("verify", "--all", "--jobs", "2", cache_dir=tmp_path / "final")
    assert verified.returncode == 0, verified.stderr
    assert verified.stdout.splitlines()[-1] == f"verified: {len(rows(whole))} rebuilt, 0 faults"


@pytest.fixture
def two_machines(tmp_path, monkeypatch):
    """Caches built on two machines: a with 1,1 and 2,2,2,2; b with 2,2,2,2 and 1,1,2."""
    a, b = tmp_path / "a", tmp_path / "b"
    build(a, monkeypatch, [1, 1], [2, 2, 2, 2])
    build(b, monkeypatch, [2, 2, 2, 2], [1, 1, 2])
    return a, b


def test_merge_unions_caches(two_machines):
    a, b = two_machines
    expected = {**rows(a), **rows(b)}
    result = tool("merge", str(b), cache_dir=a)
    assert result.returncode == 0, result.stderr
    assert f"{b / 'cgbasis.db'}: 1 bases added, 1 already there" in result.stdout
    assert rows(a) == expected


def test_merge_reports_a_conflicting_row_and_never_overwrites_it(two_machines, monkeypatch):
    a, b = two_machines
    build(b, monkeypatch, [3, 3])
    key = spin_key([2, 2, 2, 2])
    data = rows(b)[(2, 2, 2, 2)]
    put_row(b, key, data[:-1] + bytes([data[-1] ^ 1]))  # one bit of the last value
    before = rows(a)
    result = tool("merge", str(b / "cgbasis.db"), "--into", str(a))
    assert result.returncode == 1
    assert "conflict: the bases for spins (2j) 2,2,2,2 differ" in result.stderr
    after = rows(a)
    assert after[(2, 2, 2, 2)] == before[(2, 2, 2, 2)]
    assert set(after) == set(before) | {(1, 1, 2), (3, 3)}


def test_merge_refuses_what_is_not_a_cache_or_the_cache_itself(two_machines, tmp_path):
    a, _ = two_machines
    not_a_cache = tmp_path / "notes.db"
    not_a_cache.write_text("not a database")
    for source, message in [(not_a_cache, "is not a tavrin cache"),
                            (tmp_path / "missing", "no cache database at"),
                            (a, "is the cache being merged into")]:
        result = tool("merge", str(source), cache_dir=a)
        assert result.returncode == 1
        assert message in result.stderr


def decoded(data):
    return np.load(io.BytesIO(data))


@pytest.mark.parametrize(
    "key, data, message",
    [
        (spin_key([2, 2, 2, 2]), lambda good: good[:-8],
         "it is 2064 bytes long where its shape (3, 3, 3, 3, 3) needs 2072"),
        (spin_key([2, 2, 2, 2]), lambda good: good + b"\0", "it is 2073 bytes long"),
        (spin_key([2, 2, 2, 2]), lambda good: npy(decoded(good).astype(np.int64)),
         "its elements are '<i8', not 8-byte floats"),
        (spin_key([2, 2, 2, 2]), lambda good: npy(decoded(good)[..., :2]),
         "its shape (3, 3, 3, 3, 2) is not the basis's (3, 3, 3, 3, 3)"),
        (spin_key([2, 2]), lambda good: good,
         "its shape (3, 3, 3, 3, 3) is not that of a basis of spins (2j) 2,2"),
        (spin_key([1, 1, 1]), lambda good: npy(np.zeros((2, 2, 2, 1))),
         "its spins cannot couple to total spin 0"),
        (spin_key([2, 2, 2, 2]), lambda good: "an array, honestly", "its data are text"),
        (spin_key([2, 2, 2, 2]), lambda good: b"PK\x03\x04 a zip file",
         "its data are not an array in the NPY format"),
        (b"\x02\x00\x00\x00\x02\x00", lambda good: good, "its key is not a list of spins"),
    ],
    ids=["cut short", "one byte more", "integers", "om dimension", "other spins", "no coupling",
         "text", "not npy", "key"],
)
def test_merge_refuses_rows_the_library_would_not_read_as_their_basis(
        two_machines, key, data, message):
    a, b = two_machines
    good = rows(b)[(2, 2, 2, 2)]
    for cache in (a, b):  # b keeps one sound row, 1,1,2, that a lacks
        with connected(cache / "cgbasis.db") as database:
            database.execute("DELETE FROM cgbasis WHERE spins = ?", (spin_key([2, 2, 2, 2]),))
    expected = {**rows(a), (1, 1, 2): rows(b)[(1, 1, 2)]}
    put_row(b, key, data(good))
    result = tool("merge", str(b), cache_dir=a)
    assert result.returncode == 1
    assert "1 bases added, 0 already there, 1 refused" in result.stdout
    assert f" in {b / 'cgbasis.db'}: {message}" in result.stderr, result.stderr
    assert rows(a) == expected


def flip_a_bit(data):
    return data[:-1] + bytes([data[-1] ^ 1])


@pytest.mark.parametrize(
    "alter, status, message",
    [
        (flip_a_bit, 1, "mismatch: spins (2j) 2,2,2,2: 1 of 243 numbers differ"),
        (lambda data: npy(decoded(data).astype(">f8")), 0, "0 faults"),
        (lambda data: data[:-1], 1, "unreadable: spins (2j) 2,2,2,2: it is 2071 bytes long"),
    ],
    ids=["one bit", "other byte order", "cut short"],
)
def test_verify_rebuilds_rows_and_compares_their_numbers_bit_for_bit(
        two_machines, alter, status, message):
    a, _ = two_machines
    put_row(a, spin_key([2, 2, 2, 2]), alter(rows(a)[(2, 2, 2, 2)]))
    result = tool("verify", "--all", "--jobs", "1", cache_dir=a)
    assert result.returncode == status, result.stderr
    assert message in result.stdout + result.stderr


def test_verify_draws_its_sample_from_the_seed(tmp_path, monkeypatch):
    build(tmp_path, monkeypatch, *([2] * n for n in range(2, 9)))
    results = [tool("verify", "--sample", "3", "--seed", seed, "--jobs", "1", cache_dir=tmp_path)
               for seed in ("4", "4")]
    assert all(r.returncode == 0 for r in results), results[0].stderr
    assert results[0].stdout == results[1].stdout
    assert "rows:     7, 0 unreadable\nrebuild:  3 (--seed 4)" in results[0].stdout


def start_tool(*args, cache_dir):
    """The tool in a process group of its own, as a terminal's foreground job is."""
    return subprocess.Popen([*TOOL, "cache", "--cache-dir", str(cache_dir), *args],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            start_new_session=True)


def ctrl_c(process):
    """Ctrl-C to the whole group; returns how long the tool took to end, and its stderr."""
    start = time.monotonic()
    os.killpg(process.pid, signal.SIGINT)
    _, err = process.communicate(timeout=60)
    return time.monotonic() - start, err


def wait_until(condition, timeout=120):
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline
        time.sleep(0.05)


def stored_keys(cache_dir):
    database = cache_dir / "cgbasis.db"
    if not database.exists():
        return set()
    with closing(sqlite3.connect(f"{database.as_uri()}?mode=ro", uri=True)) as connection:
        try:
            return {key for (key,) in connection.execute("SELECT spins FROM cgbasis")}
        except sqlite3.OperationalError:  # the table is not made yet
            return set()


def test_ctrl_c_during_prebuild_ends_it_at_once_keeping_what_was_stored(tmp_path, monkeypatch):
    # One worker builds a basis of 270 MB (about a second) while the other's small ones are
    # stored; Ctrl-C comes as soon as some are.
    cache = tmp_path / "cache"
    process = start_tool("prebuild", "--spins", "1-2", "--edges", "2-7",
                         "--list", ",".join(["2"] * 10), "--jobs", "2", cache_dir=cache)
    wait_until(lambda: stored_keys(cache))
    seen = stored_keys(cache)
    took, err = ctrl_c(process)
    assert process.returncode == 130
    assert took < 2.0, took  # 5 to 12 s when the main process finished the store under way
    assert "interrupted:" in err and "Traceback" not in err, err
    stored = rows(cache)
    assert {spin_key(spins) for spins in stored} >= seen
    assert stored == library_rows(stored, tmp_path / "reference", monkeypatch)
    with connected(cache / "cgbasis.db") as database:
        assert database.execute("PRAGMA integrity_check").fetchone() == ("ok",)


def test_ctrl_c_ends_prebuild_at_once_while_its_store_waits_for_another_writer(tmp_path, monkeypatch):
    build(tmp_path, monkeypatch, [1, 1])
    with connected(tmp_path / "cgbasis.db") as other_writer:
        other_writer.execute("BEGIN IMMEDIATE")  # holds the write lock
        process = start_tool("prebuild", "--spins", "1-2", "--edges", "2-4", "--jobs", "1",
                             cache_dir=tmp_path)
        time.sleep(3)  # the first task is built and waits for the lock
        took, err = ctrl_c(process)
        assert process.returncode == 130 and took < 2.0, (took, err)
    assert list(rows(tmp_path)) == [(1, 1)]


def child_processes(pid):
    with open(f"/proc/{pid}/task/{pid}/children") as children:
        return [int(child) for child in children.read().split()]


def test_prebuild_whose_processes_are_killed_ends_with_an_error(tmp_path):
    # As the kernel's out-of-memory killer would: the worker and the storer, mid-build.
    process = start_tool("prebuild", "--list", ",".join(["2"] * 10), "--jobs", "1",
                         cache_dir=tmp_path)
    wait_until(lambda: len(child_processes(process.pid)) >= 3)  # tracker, worker, storer
    time.sleep(0.5)
    for child in child_processes(process.pid):
        with open(f"/proc/{child}/cmdline", "rb") as cmdline:
            if b"spawn_main" in cmdline.read():
                os.kill(child, signal.SIGKILL)
    _, err = process.communicate(timeout=60)
    assert process.returncode == 1
    assert "ended unexpectedly" in err and "Traceback" not in err, err


def test_prebuild_on_mpi_without_mpi4py_says_what_to_install(tmp_path):
    without_mpi4py = ("import sys; sys.modules['mpi4py'] = None\n"
                      "from tavrin_cli.main import main; raise SystemExit(main())")
    result = subprocess.run([sys.executable, "-W", "error", "-c", without_mpi4py, "cache",
                             "prebuild", "--mpi", "--list", "2,2", "--cache-dir", str(tmp_path)],
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 1
    assert "--mpi needs mpi4py" in result.stderr and "pip install mpi4py" in result.stderr


def mpiexec_or_skip():
    pytest.importorskip("mpi4py", reason="mpi4py is not installed (pip install mpi4py mpich)")
    found = Path(sys.executable).with_name("mpiexec")
    mpiexec = str(found) if found.exists() else shutil.which("mpiexec")
    if mpiexec is None:
        pytest.skip("no mpiexec beside the interpreter or on PATH (pip install mpich)")
    try:
        hello = subprocess.run([mpiexec, "-n", "2", sys.executable, "-c",
                                "from mpi4py import MPI; world = MPI.COMM_WORLD\n"
                                "if world.Get_rank() == 0: print(world.Get_size())"],
                               capture_output=True, text=True, timeout=60)
    except subprocess.TimeoutExpired:
        pytest.skip("MPI did not start two processes within 60 s here")
    if hello.stdout.split() != ["2"]:
        pytest.skip(f"MPI cannot start two processes here: {hello.stderr.strip()[-300:]}")
    return mpiexec


def test_prebuild_on_an_mpi_pool_stores_what_the_library_builds(tmp_path, monkeypatch):
    mpiexec = mpiexec_or_skip()
    result = subprocess.run(
        [mpiexec, "-n", "3", sys.executable, "-X", "dev", "-W", "error", "-m", "mpi4py.futures",
         "-m", "tavrin_cli", "cache", "prebuild", "--mpi", *REQUEST, "--shard", "1/2",
         "--cache-dir", str(tmp_path / "mpi")],
        capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    assert "workers:  2 processes of an MPI pool" in result.stdout
    local = tool("prebuild", *REQUEST, "--shard", "1/2", "--jobs", "2", cache_dir=tmp_path / "local")
    assert local.returncode == 0, local.stderr
    assert rows(tmp_path / "mpi") == rows(tmp_path / "local")
