"""The `tavrin cache` command on real caches: info, clear, prebuild, merge, and its errors."""

import io
import math
import shutil
import struct
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import tavrin
from spec_factory import connected
from tavrin import CGSpec, Edge, Spin


def canonical_spec(spins):
    edges = [Edge.incoming(Spin(s)) for s in spins[:-1]] + [Edge.outgoing(Spin(spins[-1]))]
    return CGSpec.from_edges(edges)


def tool(*args, cache_dir=None):
    prefix = ["cache", "--cache-dir", str(cache_dir)] if cache_dir is not None else ["cache"]
    return subprocess.run([sys.executable, "-m", "tavrin_cli", *prefix, *args],
                          capture_output=True, text=True, timeout=300)


def build(cache_dir, monkeypatch, *spin_lists):
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(cache_dir))
    for spins in spin_lists:
        tavrin.canonical_basis(canonical_spec(spins))


def rows(cache_dir):
    with connected(cache_dir / "cgbasis.db") as database:
        return {struct.unpack(f"<{len(key) // 4}i", key): data
                for key, data in database.execute("SELECT spins, data FROM cgbasis")}


def test_console_script_is_installed():
    script = Path(sys.executable).with_name("tavrin")
    if not script.exists():
        pytest.skip("not installed as a package here")
    result = subprocess.run([str(script), "--version"], capture_output=True, text=True)
    assert result.stdout.strip() == f"tavrin {tavrin.__version__}"


@pytest.mark.parametrize("command", [[], ["cache"], ["cache", "info"], ["cache", "clear"],
                                     ["cache", "prebuild"], ["cache", "merge"]],
                         ids=lambda c: " ".join(c) or "tavrin")
def test_every_command_has_help(command):
    result = subprocess.run([sys.executable, "-m", "tavrin_cli", *command, "--help"],
                            capture_output=True, text=True)
    assert result.returncode == 0
    assert result.stdout.startswith("usage: tavrin")


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
    ],
)
def test_bad_arguments_are_refused_with_usage(args, message):
    result = subprocess.run([sys.executable, "-m", "tavrin_cli", *args],
                            capture_output=True, text=True)
    assert result.returncode == 2
    assert "usage: tavrin" in result.stderr and message in result.stderr


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


def test_clear_removes_every_basis_and_the_cache_keeps_working(tmp_path, monkeypatch):
    # Another process clears the cache: without the in-process store, whose decoded copies
    # would go on serving this one, the next request writes its row again.
    monkeypatch.setenv("TAVRIN_BASIS_STORE_BYTES", "0")
    build(tmp_path, monkeypatch, [1, 1], [2, 2, 2, 2])
    result = tool("clear", cache_dir=tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("removed 2 bases")
    assert rows(tmp_path) == {}
    assert tavrin.canonical_basis(canonical_spec([2, 2, 2, 2])).shape == (3, 3, 3, 3, 3)
    assert list(rows(tmp_path)) == [(2, 2, 2, 2)]


def test_prebuild_stores_every_coupling_list_exactly_as_the_library_builds_it(tmp_path, monkeypatch):
    cache = tmp_path / "cache"
    dry = tool("prebuild", "--spins", "1-2", "--edges", "2-4", "--list", "4,4,4", "--dry-run",
               cache_dir=cache)
    assert dry.returncode == 0, dry.stderr
    assert not (cache / "cgbasis.db").exists()
    result = tool("prebuild", "--spins", "1-2", "--edges", "2-4", "--list", "4,4,4",
                  "--jobs", "2", cache_dir=cache)
    assert result.returncode == 0, result.stderr
    stored = rows(cache)
    assert "to build: %d bases" % len(stored) in dry.stdout
    assert (4, 4, 4) in stored and (1, 1) in stored and (1, 1, 1) not in stored
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(tmp_path / "reference"))
    estimate = 0
    for spins, blob in stored.items():
        expected = tavrin.canonical_basis(canonical_spec(spins))
        assert np.load(io.BytesIO(blob)).tobytes() == expected.tobytes()
        estimate += 8 * expected.shape[-1] * math.prod(s + 1 for s in spins)
    assert estimate == expected_bytes(dry.stdout)
    again = tool("prebuild", "--spins", "1-2", "--edges", "2-4", cache_dir=cache)
    assert "to build: 0 bases" in again.stdout


def expected_bytes(text):
    """The estimate the dry run printed, back in bytes (to the printed precision)."""
    amount, unit = text.split("about ")[1].split(" (")[0].split()
    return pytest.approx(float(amount) * {"B": 1, "KiB": 1024, "MiB": 1024**2}[unit], rel=1e-3)


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


def test_merge_reports_a_conflicting_row_and_never_overwrites_it(two_machines, tmp_path, monkeypatch):
    a, b = two_machines
    build(b, monkeypatch, [3, 3])
    key = struct.pack("<4i", 2, 2, 2, 2)
    with connected(b / "cgbasis.db") as database:
        (data,) = database.execute("SELECT data FROM cgbasis WHERE spins = ?", (key,)).fetchone()
        altered = data[:-1] + bytes([data[-1] ^ 1])  # one bit of the last value
        database.execute("UPDATE cgbasis SET data = ? WHERE spins = ?", (altered, key))
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
