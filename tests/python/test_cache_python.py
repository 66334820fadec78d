"""The basis cache seen from Python: failures that cost no result, reuse, several processes."""

import hashlib
import io
import json
import mmap
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import textwrap
import warnings

import numpy as np
import pytest

from spec_factory import cache_rows, connected, spec_of, spin_key, spins_of_key
from tavrin import (
    Contraction,
    Spin,
    canonical_basis,
    compute_conjugate,
    compute_rsymbol,
    compute_xsymbol,
    fs_phase_for_spin,
)

HALF_A = spec_of([1, 1, 2])
ONE_B = spec_of([2, 1, 1], [1, -1, -1])

BASIS_CALLS = {
    "canonical_basis": lambda: canonical_basis(spec_of([2, 2, 2])),
    "compute_xsymbol": lambda: compute_xsymbol(HALF_A, ONE_B, Contraction([2], [0])),
    "compute_rsymbol": lambda: compute_rsymbol(spec_of([1, 1, 1, 1]), [1, 0, 2, 3]),
}


@pytest.fixture
def cache_dir(tmp_path, monkeypatch):
    directory = tmp_path / "cache"
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(directory))
    return directory


def cache_warnings(call):
    """Runs call(); returns its value and the messages of the RuntimeWarnings it emitted."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        value = call()
    assert all(w.category is RuntimeWarning for w in caught), [str(w.message) for w in caught]
    return value, [str(w.message) for w in caught]


def fresh_results():
    """The results of the basis calls with a cache of their own, for comparison."""
    with tempfile.TemporaryDirectory() as directory, pytest.MonkeyPatch.context() as patch:
        patch.setenv("TAVRIN_CACHE_PATH", directory)
        return {name: call() for name, call in BASIS_CALLS.items()}


def assert_same_results(results, expected):
    for name, value in results.items():
        value, reference = value, expected[name]
        if isinstance(value, tuple):
            value, reference = value[0], reference[0]
        assert np.array_equal(value, reference), name


def test_cache_under_a_regular_file_warns_once_and_computes(tmp_path, monkeypatch):
    expected = fresh_results()
    blocker = tmp_path / "blocker"
    blocker.write_text("not a directory")
    database = blocker / "cache" / "cgbasis.db"
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(blocker / "cache"))

    results, messages = cache_warnings(
        lambda: {name: call() for name, call in BASIS_CALLS.items()})
    assert_same_results(results, expected)
    # Once per cause and path, however many bases and calls ran into it.
    assert messages == [f"tavrin basis cache {database}: Failed to create cache directory: "
                        "Not a directory; the basis was computed instead"]
    assert cache_warnings(lambda: canonical_basis(spec_of([1, 1])))[1] == []
    assert compute_conjugate(HALF_A)[0] == 1.0
    assert fs_phase_for_spin(Spin(1)) == -1.0
    # Invalid specifications are still errors, with their own messages.
    with pytest.raises(ValueError, match="1 external edges"):
        canonical_basis(spec_of([2]))

    blocker.unlink()
    results, messages = cache_warnings(
        lambda: {name: call() for name, call in BASIS_CALLS.items()})
    assert messages == []
    assert database.is_file()


def test_garbage_database_is_left_alone(cache_dir):
    cache_dir.mkdir()
    database = cache_dir / "cgbasis.db"
    garbage = b"this is not an SQLite database\n" * 200
    database.write_bytes(garbage)

    basis, messages = cache_warnings(lambda: canonical_basis(spec_of([1, 1])))
    assert basis.shape == (2, 2, 1)
    assert messages == [f"tavrin basis cache {database}: Failed to create table: file is not a "
                        "database; the basis was computed instead"]
    assert database.read_bytes() == garbage

    database.unlink()
    assert cache_warnings(lambda: canonical_basis(spec_of([1, 1])))[1] == []


@pytest.mark.parametrize("blob, cause", [
    (b"\x93NUMPY\x09\x00", "Failed to deserialize array: error parsing header: unknown version "
                            "number: 9.0"),
    (None, "Stored basis has shape [2, 2] but the spins require [2, 2, 1]; the row was not "
           "written by this library"),
])
def test_unusable_row_is_rebuilt_and_left_as_it_is(cache_dir, blob, cause, monkeypatch):
    # The row is changed behind the process's back: without the in-process store, whose
    # decoded copy would go on serving it, the next call reads it again.
    monkeypatch.setenv("TAVRIN_BASIS_STORE_BYTES", "0")
    if blob is None:
        buffer = io.BytesIO()
        np.save(buffer, np.eye(2))
        blob = buffer.getvalue()
    expected = canonical_basis(spec_of([1, 1]))
    with connected(cache_dir / "cgbasis.db") as connection:
        connection.execute("UPDATE cgbasis SET data = ? WHERE spins = ?", (blob, spin_key([1, 1])))

    basis, messages = cache_warnings(lambda: canonical_basis(spec_of([1, 1])))
    assert np.array_equal(basis, expected)
    assert messages == [f"tavrin basis cache {cache_dir / 'cgbasis.db'}: {cause}; the basis was "
                        "computed instead"]
    assert cache_rows(cache_dir)[spin_key([1, 1])] == blob


def test_foreign_blobs_are_read(cache_dir):
    expected = canonical_basis(spec_of([2, 2, 2]))
    for variant in (expected.astype(">f8"), np.asfortranarray(expected)):
        buffer = io.BytesIO()
        np.save(buffer, variant)
        with connected(cache_dir / "cgbasis.db") as connection:
            connection.execute("UPDATE cgbasis SET data = ?", (buffer.getvalue(),))
        basis, messages = cache_warnings(lambda: canonical_basis(spec_of([2, 2, 2])))
        assert messages == []
        assert np.array_equal(basis, expected)


def test_local_cache_uses_a_write_ahead_log(cache_dir):
    canonical_basis(spec_of([1, 1]))
    with connected(cache_dir / "cgbasis.db") as connection:
        assert connection.execute("PRAGMA journal_mode").fetchone() == ("wal",)


STORE_SMALL_ROWS_AND_EXIT = """
import os, sys
sys.path.insert(0, {tests!r})
from spec_factory import spec_of
from tavrin import canonical_basis
for a in range(1, 15):
    for b in range(1, 11):
        canonical_basis(spec_of([1, a, b, a + b + 1]))
{exit}
"""


# A process that opens the cache while no other has it reads the whole write-ahead log first;
# small rows add large pages to it. It stays a few megabytes long however a process ends, and
# a process that exits normally leaves none behind.
@pytest.mark.parametrize("exit, longest", [("sys.exit(0)", 0), ("os._exit(0)", 5 << 20)],
                         ids=["normal-exit", "abrupt-exit"])
def test_write_ahead_log_left_behind_stays_short(cache_dir, exit, longest):
    script = STORE_SMALL_ROWS_AND_EXIT.format(tests=os.path.dirname(__file__), exit=exit)
    subprocess.run([sys.executable, "-c", script], check=True, timeout=300)
    log = cache_dir / "cgbasis.db-wal"
    assert (log.stat().st_size if log.exists() else 0) <= longest
    assert len(cache_rows(cache_dir)) == 140


NOBODY = 65534


@pytest.fixture
def shared_tmp():
    """A directory that an unprivileged child process can reach."""
    directory = tempfile.mkdtemp(prefix="tavrin-shared-", dir="/tmp")
    os.chmod(directory, 0o755)
    yield pathlib.Path(directory)
    shutil.rmtree(directory, ignore_errors=True)


def in_unprivileged_child(function):
    """Runs function() in a forked child that, under root, has given up root's power to ignore
    file permissions. Returns its value and the messages of its RuntimeWarnings."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:  # pragma: no cover - the child
        try:
            os.close(read_end)
            if os.geteuid() == 0:
                os.setgroups([])
                os.setgid(NOBODY)
                os.setuid(NOBODY)
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always")
                value = function()
            payload = {"value": value, "warnings": [str(w.message) for w in caught]}
        except BaseException as error:  # reported to the parent
            payload = {"error": repr(error)}
        with os.fdopen(write_end, "w") as pipe:
            pipe.write(json.dumps(payload))
        os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        payload = json.loads(pipe.read() or '{"error": "no answer"}')
    os.waitpid(pid, 0)
    if "error" in payload:
        pytest.fail(payload["error"])
    return payload["value"], payload["warnings"]


def basis_digest(spins):
    return hashlib.sha256(canonical_basis(spec_of(spins)).tobytes()).hexdigest()


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork()")
def test_read_only_cache_serves_hits_and_computes_misses(shared_tmp, monkeypatch):
    cache = shared_tmp / "cache"
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(cache))
    # A row is deleted behind the process's back: the in-process store, which would go on
    # serving its decoded copy, stays off.
    monkeypatch.setenv("TAVRIN_BASIS_STORE_BYTES", "0")
    stored = basis_digest([2, 2, 2])
    missing = basis_digest([1, 1, 2])
    with connected(cache / "cgbasis.db") as connection:
        connection.execute("DELETE FROM cgbasis WHERE spins = ?", (spin_key([1, 1, 2]),))
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(shared_tmp / "elsewhere"))
    canonical_basis(spec_of([1, 1]))  # closes the connection to the first cache
    os.chmod(cache, 0o555)
    os.chmod(cache / "cgbasis.db", 0o444)
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(cache))

    (hit, miss), messages = in_unprivileged_child(
        lambda: [basis_digest([2, 2, 2]), basis_digest([1, 1, 2])])
    assert (hit, miss) == (stored, missing)
    assert len(messages) == 1
    assert messages[0].startswith(f"tavrin basis cache {cache / 'cgbasis.db'}: Failed to insert "
                                  "data: attempt to write a readonly database")
    assert messages[0].endswith("; the basis was computed but not stored")


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork()")
def test_unwritable_default_directory(shared_tmp, monkeypatch):
    monkeypatch.delenv("TAVRIN_CACHE_PATH")
    monkeypatch.chdir(shared_tmp)
    os.chmod(shared_tmp, 0o555)
    expected = fresh_results()["canonical_basis"]
    digest_value, messages = in_unprivileged_child(
        lambda: hashlib.sha256(BASIS_CALLS["canonical_basis"]().tobytes()).hexdigest())
    assert digest_value == hashlib.sha256(expected.tobytes()).hexdigest()
    # The default path is resolved against the directory of the first call.
    database = os.path.join(os.getcwd(), ".tavrin", "cgbasis.db")
    assert messages == [f"tavrin basis cache {database}: Failed to create cache directory: "
                        "Permission denied; the basis was computed instead"]


@pytest.mark.parametrize("how", ["removed", "replaced"])
def test_database_removed_or_replaced_under_a_live_process(cache_dir, tmp_path, how):
    canonical_basis(spec_of([1, 1]))
    if how == "removed":
        shutil.rmtree(cache_dir)
    else:
        other = tmp_path / "other.db"
        with connected(other) as connection:
            connection.execute("CREATE TABLE cgbasis (spins BLOB PRIMARY KEY, data BLOB NOT NULL)")
        # A database in write-ahead-log mode is replaced together with its log and index.
        for suffix in ("-wal", "-shm"):
            (cache_dir / ("cgbasis.db" + suffix)).unlink(missing_ok=True)
        os.replace(other, cache_dir / "cgbasis.db")

    for spins in ([2, 2], [1, 1, 2]):
        assert cache_warnings(lambda: canonical_basis(spec_of(spins)))[1] == []
    assert set(cache_rows(cache_dir)) == {spin_key([2, 2]), spin_key([1, 1, 2])}


@pytest.fixture
def small_tmpfs(tmp_path):
    mount_point = tmp_path / "small"
    mount_point.mkdir()
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=512k", "tmpfs",
                              str(mount_point)], capture_output=True)
    if mounted.returncode != 0:
        pytest.skip("cannot mount a small tmpfs here: " + mounted.stderr.decode().strip())
    yield mount_point
    subprocess.run(["umount", "-l", str(mount_point)], check=False)


def test_disk_full_returns_the_basis(small_tmpfs, monkeypatch):
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(small_tmpfs))
    expected = fresh_results()
    large = spec_of([3, 3, 3, 3, 3, 3])  # about 1.1 MB, more than the file system holds
    with tempfile.TemporaryDirectory() as directory, pytest.MonkeyPatch.context() as patch:
        patch.setenv("TAVRIN_CACHE_PATH", directory)
        reference = canonical_basis(large)
    basis, messages = cache_warnings(lambda: canonical_basis(large))
    assert np.array_equal(basis, reference)
    assert len(messages) == 1 and "database or disk is full" in messages[0], messages
    # What fits is still stored, and the file is intact.
    assert_same_results({name: call() for name, call in BASIS_CALLS.items()}, expected)
    with connected(small_tmpfs / "cgbasis.db") as connection:
        assert connection.execute("PRAGMA integrity_check").fetchone() == ("ok",)


def sqlite_libraries():
    """The files mapped into this process that hold an SQLite library, as a library of its own
    or linked into another: each carries SQLite's file header."""
    with open("/proc/self/maps") as maps:
        fields = (line.split(maxsplit=5) for line in maps)
        files = {f[5].rstrip("\n") for f in fields if len(f) == 6 and f[5].startswith("/")}
    holding = set()
    for name in files:
        try:
            with open(name, "rb") as file, mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ) as data:
                if data.find(b"SQLite format 3\0") >= 0:
                    holding.add(name)
        except (OSError, ValueError):  # gone since, or not a regular file
            continue
    return holding


def test_the_process_holds_one_sqlite_after_both_used_it(cache_dir):
    canonical_basis(spec_of([1, 1]))
    cache_rows(cache_dir)
    assert len(sqlite_libraries()) == 1


def test_a_python_sqlite3_connection_beside_the_module_costs_no_store(cache_dir):
    # SQLite's file locks belong to the process: a second copy of SQLite in it that closes its
    # last connection to the cache sees no other, folds the write-ahead log away and removes it
    # while the module still writes to it, and the module's next stores are lost.
    canonical_basis(spec_of([1, 1]))
    cache_rows(cache_dir)
    canonical_basis(spec_of([2, 2]))
    assert set(cache_rows(cache_dir)) == {spin_key([1, 1]), spin_key([2, 2])}


WITHOUT_PYTHONS_SQLITE = textwrap.dedent(
    """
    import hashlib, importlib.util, json, sys, types, warnings
    {prelude}
    from tavrin import CGSpec, Contraction, Edge, Spin, canonical_basis, compute_xsymbol, memo_info
    def spec(*twice):
        edges = [Edge.incoming(Spin(t)) for t in twice[:-1]] + [Edge.outgoing(Spin(twice[-1]))]
        return CGSpec.from_edges(edges)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        results = [canonical_basis(spec(2, 2, 2)) for _ in range(3)]
        results.append(compute_xsymbol(spec(1, 1, 2), spec(2, 1, 1), Contraction([2], [0]))[0])
    print(json.dumps({{"digests": [hashlib.sha256(r.tobytes()).hexdigest() for r in results],
                      "warnings": [str(w.message) for w in caught],
                      "kept": memo_info()["basis_store"].hits}}))
    """
)


def stand_in(file):
    """Puts a module in place of _sqlite3 whose __file__ is `file` (an expression; None: none)."""
    set_file = "" if file is None else f"stand_in.__file__ = {file}; "
    return f'stand_in = types.ModuleType("_sqlite3"); {set_file}sys.modules["_sqlite3"] = stand_in'


@pytest.mark.parametrize("prelude, cause", [
    ('sys.modules["_sqlite3"] = None',
     "Python's sqlite3 module cannot be imported (ModuleNotFoundError: "),
    (stand_in('"/nowhere/_sqlite3.so"'),
     "the SQLite of Python's sqlite3 module (/nowhere/_sqlite3.so) cannot be reached: "),
    # A loaded file without SQLite: the module itself, which links none.
    (stand_in('importlib.util.find_spec("tavrin").origin'),
     "has no function sqlite3_libversion_number"),
    (stand_in(None),
     "the SQLite of Python's sqlite3 module (built in) has no function sqlite3_"),
], ids=["missing", "not-loaded", "without-sqlite", "built-in"])
def test_without_pythons_sqlite_calls_compute_warn_once_and_keep_bases(cache_dir, prelude, cause):
    script = WITHOUT_PYTHONS_SQLITE.format(prelude=prelude)
    done = subprocess.run([sys.executable, "-c", script], check=True, capture_output=True,
                          text=True, timeout=120)
    report = json.loads(done.stdout)
    assert not cache_dir.exists()
    expected = [canonical_basis(spec_of([2, 2, 2]))] * 3
    expected.append(compute_xsymbol(HALF_A, spec_of([2, 1, 1]), Contraction([2], [0]))[0])
    assert report["digests"] == [hashlib.sha256(r.tobytes()).hexdigest() for r in expected]
    [message] = report["warnings"]
    assert message.startswith(f"tavrin basis cache {cache_dir / 'cgbasis.db'}: No SQLite "
                              "library for the cache: ")
    assert cause in message
    assert message.endswith("; the basis was computed instead")
    # With no database to be had, the in-process store keeps the bases: asked for a third time,
    # the basis is not built again.
    assert report["kept"] >= 1


def test_other_directions_are_served_from_the_stored_row(cache_dir):
    canonical_basis(spec_of([2, 1, 1]))
    rows = cache_rows(cache_dir)
    assert list(rows) == [spin_key([2, 1, 1])]
    for signs in ([1, 1, 1], [-1, -1, 1], [-1, 1, -1]):
        canonical_basis(spec_of([2, 1, 1], signs))
    assert cache_rows(cache_dir) == rows


def test_symbols_store_every_basis_they_fetch(cache_dir):
    compute_xsymbol(HALF_A, ONE_B, Contraction([2], [0]))
    compute_rsymbol(spec_of([2, 1, 1]), [2, 0, 1])
    assert set(cache_rows(cache_dir)) == {
        spin_key(s) for s in ([1, 1, 2], [2, 1, 1], [1, 1, 1, 1], [1, 2, 1])
    }


def test_bases_fetched_before_a_failure_stay_stored(cache_dir):
    # Every edge contracted: C has no edges and fails after the bases of A and B were fetched.
    with pytest.raises(ValueError, match="0 external edges"):
        compute_xsymbol(HALF_A, ONE_B, Contraction([0, 1, 2], [1, 2, 0]))
    assert set(cache_rows(cache_dir)) == {spin_key([1, 1, 2]), spin_key([2, 1, 1])}


def test_failed_build_stores_nothing(cache_dir):
    canonical_basis(spec_of([1, 1]))
    with pytest.raises(ValueError, match="1 external edges"):
        canonical_basis(spec_of([2]))
    assert set(cache_rows(cache_dir)) == {spin_key([1, 1])}


WORKER = textwrap.dedent(
    """
    import hashlib, json, os, sys, time
    sys.path.insert(0, {tests!r})
    from spec_factory import spec_of
    from tavrin import canonical_basis
    while not os.path.exists({go!r}):
        time.sleep(0.005)
    digests = {{}}
    for spins in json.loads(sys.argv[1]):
        digests[str(spins)] = hashlib.sha256(canonical_basis(spec_of(spins)).tobytes()).hexdigest()
    print(json.dumps(digests))
    """
)

SHARED = [[4, 4, 4, 4, 4, 4], [2, 2, 2, 2, 2, 2, 2], [1, 1, 1, 1, 1, 1, 1, 1], [3, 3, 2, 2]]
OWN = [[[1, 1, 2], [1, 1, 0]], [[2, 2, 2]], [[3, 3, 2], [3, 3]], [[4, 4, 2]]]


def digest(spins):
    return hashlib.sha256(canonical_basis(spec_of(spins)).tobytes()).hexdigest()


def test_processes_share_one_cache_directory(tmp_path):
    shared_dir = tmp_path / "shared"
    go = tmp_path / "go"
    script = WORKER.format(tests=os.path.dirname(__file__), go=str(go))
    env = dict(os.environ, TAVRIN_CACHE_PATH=str(shared_dir))
    workers = []
    for k, own in enumerate(OWN):
        order = SHARED[k:] + SHARED[:k] + own
        workers.append(subprocess.Popen([sys.executable, "-c", script, json.dumps(order)],
                                        env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        text=True))
    go.touch()
    results = []
    for worker in workers:
        out, err = worker.communicate(timeout=300)
        assert worker.returncode == 0, err
        results.append(json.loads(out))

    every_spins = SHARED + [s for own in OWN for s in own]
    assert set(cache_rows(shared_dir)) == {spin_key(s) for s in every_spins}
    # Compared with bases built in this process's own cache directory.
    for result in results:
        for spins_text, worker_digest in result.items():
            assert worker_digest == digest(json.loads(spins_text)), spins_text
    for spins, blob in cache_rows(shared_dir).items():
        assert np.load(io.BytesIO(blob)).dtype == np.float64


def _bases_in_forked_child(spin_lists):
    return [digest(spins) for spins in spin_lists]


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork()")
def test_forked_workers_after_the_parent_opened_the_cache(cache_dir):
    import multiprocessing

    canonical_basis(spec_of([1, 1]))  # the parent's connection is open before the fork
    jobs = [[[1, 1, 2, 2]], [[2, 2, 2, 2]], [[1, 1, 1, 1, 1, 1]], [[3, 3, 2]]]
    with multiprocessing.get_context("fork").Pool(4) as pool:
        children = pool.map(_bases_in_forked_child, jobs)
    assert children == [[digest(s) for s in job] for job in jobs]
    with connected(cache_dir / "cgbasis.db") as connection:
        assert connection.execute("PRAGMA integrity_check").fetchone() == ("ok",)
    assert set(cache_rows(cache_dir)) >= {spin_key(s) for job in jobs for s in job}


LARGE = [[2] * 9, [4] * 6, [2] * 8, [3, 3, 3, 3, 3, 3, 2], [1, 2, 3, 4, 4, 3, 2, 1], [4, 4, 4, 4, 4, 2]]


def test_processes_writing_large_rows_at_once_lose_nothing(tmp_path):
    shared_dir = tmp_path / "shared"
    go = tmp_path / "go"
    script = WORKER.format(tests=os.path.dirname(__file__), go=str(go))
    env = dict(os.environ, TAVRIN_CACHE_PATH=str(shared_dir))
    workers = []
    for k in range(6):
        # Each row is built by two processes at once, each process builds two rows.
        order = [LARGE[k], LARGE[(k + 1) % len(LARGE)]]
        workers.append(subprocess.Popen(
            [sys.executable, "-W", "error::RuntimeWarning", "-c", script, json.dumps(order)],
            env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True))
    go.touch()
    for worker in workers:
        out, err = worker.communicate(timeout=600)
        assert worker.returncode == 0, err

    with connected(shared_dir / "cgbasis.db") as connection:
        assert connection.execute("PRAGMA integrity_check").fetchone() == ("ok",)
    rows = cache_rows(shared_dir)
    assert set(rows) == {spin_key(s) for s in LARGE}
    for key, blob in rows.items():
        stored = np.load(io.BytesIO(blob))
        assert stored.shape[:-1] == tuple(s + 1 for s in spins_of_key(key))


def own_layout_header(shape):
    """The header this library writes for a shape: version 1.0, padded to 64 bytes."""
    text = "{'descr': '<f8', 'fortran_order': False, 'shape': (" + ", ".join(map(str, shape))
    text += ",)}" if len(shape) == 1 else ")}"
    padded = len(text) + 11 + (-(len(text) + 11) % 64)
    return b"\x93NUMPY\x01\x00" + (padded - 10).to_bytes(2, "little") + \
        (text + " " * (padded - 11 - len(text)) + "\n").encode()


@pytest.mark.parametrize("shape", [(0, 2**63), (2**32, 0, 2**32), (0, 2**64 - 1), (2**32, 2**32),
                                   (3, 2**64 - 1)], ids=str)
@pytest.mark.parametrize("writer", ["own", "foreign"])
def test_stored_shapes_that_no_tensor_can_hold_cost_no_result(cache_dir, monkeypatch, shape,
                                                               writer):
    monkeypatch.setenv("TAVRIN_BASIS_STORE_BYTES", "0")
    expected = canonical_basis(spec_of([1, 1]))
    header = own_layout_header(shape)
    if writer == "foreign":  # another writer's spacing: read by the general reader
        header = header.replace(b"'shape': (", b"'shape':(")
    with connected(cache_dir / "cgbasis.db") as connection:
        connection.execute("UPDATE cgbasis SET data = ? WHERE spins = ?",
                           (header, spin_key([1, 1])))
    basis, messages = cache_warnings(lambda: canonical_basis(spec_of([1, 1])))
    assert np.array_equal(basis, expected)
    assert len(messages) == 1 and messages[0].endswith("; the basis was computed instead")
    assert cache_rows(cache_dir)[spin_key([1, 1])] == header


def test_a_symbolic_link_loop_in_the_cache_path_is_named_as_such(tmp_path, monkeypatch):
    (tmp_path / "loop").symlink_to(tmp_path / "loop")
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(tmp_path / "loop"))
    _, messages = cache_warnings(lambda: canonical_basis(spec_of([3, 3])))
    assert messages == [f"tavrin basis cache {tmp_path / 'loop' / 'cgbasis.db'}: Failed to create "
                        "cache directory: Too many levels of symbolic links; the basis was "
                        "computed instead"]
