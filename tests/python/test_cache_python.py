"""The basis cache seen from Python: failures and recovery, reuse, several processes."""

import hashlib
import io
import json
import os
import sqlite3
import subprocess
import sys
import textwrap

import numpy as np
import pytest

from spec_factory import cache_rows, spec_of, spin_key
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


def assert_basis_calls_fail(prefix):
    for name, call in BASIS_CALLS.items():
        with pytest.raises(RuntimeError) as caught:
            call()
        assert str(caught.value).startswith(prefix), name


def assert_basis_calls_succeed():
    for call in BASIS_CALLS.values():
        call()


def test_cache_under_a_regular_file_fails_until_the_file_is_gone(tmp_path, monkeypatch):
    blocker = tmp_path / "blocker"
    blocker.write_text("not a directory")
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(blocker / "cache"))

    assert_basis_calls_fail("Cache error: Failed to create cache directory: ")
    assert compute_conjugate(HALF_A)[0] == 1.0
    assert fs_phase_for_spin(Spin(1)) == -1.0
    # The cache is consulted before the spins are examined.
    with pytest.raises(RuntimeError, match="^Cache error: "):
        canonical_basis(spec_of([1, 3]))

    blocker.unlink()
    assert_basis_calls_succeed()
    assert (blocker / "cache" / "cgbasis.db").is_file()


def test_garbage_database_fails_until_it_is_removed(cache_dir):
    cache_dir.mkdir()
    database = cache_dir / "cgbasis.db"
    database.write_bytes(b"this is not an SQLite database\n" * 200)

    assert_basis_calls_fail("Cache error: Failed to create table: file is not a database")
    with pytest.raises(RuntimeError) as caught:
        canonical_basis(spec_of([1, 1]))
    assert str(caught.value) == "Cache error: Failed to create table: file is not a database"

    database.unlink()
    assert_basis_calls_succeed()


@pytest.mark.skipif(hasattr(os, "geteuid") and os.geteuid() == 0,
                    reason="file permissions do not bind root")
def test_read_only_cache_directory_fails_until_it_is_writable(cache_dir):
    cache_dir.mkdir()
    cache_dir.chmod(0o500)
    try:
        assert_basis_calls_fail("Cache error: Failed to open database: ")
    finally:
        cache_dir.chmod(0o700)
    assert_basis_calls_succeed()


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
    with pytest.raises(ValueError, match="Two-edge CG tensor requires equal spins"):
        canonical_basis(spec_of([1, 3]))
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
    with sqlite3.connect(cache_dir / "cgbasis.db") as connection:
        assert connection.execute("PRAGMA integrity_check").fetchone() == ("ok",)
    assert set(cache_rows(cache_dir)) >= {spin_key(s) for job in jobs for s in job}
