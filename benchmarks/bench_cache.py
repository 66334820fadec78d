"""The basis cache against what a user would do instead, side by side in one run.

Run after `pip install .`:  python benchmarks/bench_cache.py [--repeats N] [--skip-huge]

1. A hit in a fresh process (the first canonical_basis call after import), against
   - the C lower bound: the faster of SELECT by key + one memcpy and incremental blob I/O into
     fresh memory (cache_lower_bound.c, built here against the system libsqlite3), and
   - Python's sqlite3 SELECT + numpy.frombuffer(...).copy(),
   each in a fresh process, for rows from ~300 bytes to ~300 MB; and the steady-state hit
   (repeated calls in one process).
2. Storing a new small basis on the local disk against the same on a RAM disk (/dev/shm).
3. Reading the 285 MB basis (ten spin-1 edges) against building it.
Times are medians of repeats; ratios are what count on a shared machine.
"""

import argparse
import os
import pathlib
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import textwrap
import time

HERE = pathlib.Path(__file__).resolve().parent

ROWS = [
    ("3 x spin 1", [2, 2, 2]),
    ("4 x spin 3/2", [3, 3, 3, 3]),
    ("1/2,1,3/2,1,1/2,3/2", [1, 2, 3, 2, 1, 3]),
    ("3 x 2j=40", [40, 40, 40]),
    ("8 x spin 1", [2] * 8),
    ("9 x spin 1", [2] * 9),
    ("10 x spin 1", [2] * 10),
]

# NumPy is imported before the clock starts, as in any program that uses the arrays.
PRELUDE = """
import time, sys
import numpy
from tavrin import CGSpec, Edge, Spin, canonical_basis
def spec(spins):
    edges = [Edge.incoming(Spin(s)) for s in spins[:-1]] + [Edge.outgoing(Spin(spins[-1]))]
    return CGSpec.from_edges(edges)
"""

TAVRIN_HIT = PRELUDE + """
s = spec({spins})
start = time.perf_counter()
canonical_basis(s)
print((time.perf_counter() - start) * 1e6)
"""

TAVRIN_STEADY = PRELUDE + """
s = spec({spins})
canonical_basis(s)
times = []
for _ in range({repeats}):
    start = time.perf_counter()
    canonical_basis(s)
    times.append((time.perf_counter() - start) * 1e6)
times.sort()
print(times[len(times) // 2])
"""

PYTHON_STEADY = """
import sqlite3, time, numpy
key = bytes.fromhex({key!r})
connection = sqlite3.connect({db!r})
times = []
for _ in range({repeats} + 1):
    start = time.perf_counter()
    blob = connection.execute("SELECT data FROM cgbasis WHERE spins = ?", (key,)).fetchone()[0]
    array = numpy.frombuffer(blob, dtype=numpy.uint8).copy()
    times.append((time.perf_counter() - start) * 1e6)
times = sorted(times[1:])
print(times[len(times) // 2])
"""

PYTHON_HIT = """
import sqlite3, time, numpy
key = bytes.fromhex({key!r})
start = time.perf_counter()
connection = sqlite3.connect({db!r})
blob = connection.execute("SELECT data FROM cgbasis WHERE spins = ?", (key,)).fetchone()[0]
array = numpy.frombuffer(blob, dtype=numpy.uint8).copy()
print((time.perf_counter() - start) * 1e6)
"""

# The C lower bound's first read, made by C code loaded into a Python process like the one
# tavrin runs in (NumPy and tavrin imported): what the same SQLite calls cost there.
C_IN_PYTHON = PRELUDE + """
import ctypes
library = ctypes.CDLL({library!r})
library.first_read_us.restype = ctypes.c_double
print(library.first_read_us({db!r}.encode(), {key!r}.encode(), {use_blob}))
"""

TAVRIN_STORE = PRELUDE + """
times = []
for s in range(2, 2 + {count}):
    spins = [1, s, s + 1]  # small: 2 (s+1) (s+2) doubles
    t = spec(spins)
    start = time.perf_counter()
    canonical_basis(t)
    times.append((time.perf_counter() - start) * 1e6)
times.sort()
print(times[len(times) // 2])
"""


def run_us(args, env=None):
    out = subprocess.run(args, env=env, capture_output=True, text=True, check=True).stdout
    return float(out.strip().splitlines()[-1])


def python_us(code, env):
    return run_us([sys.executable, "-c", textwrap.dedent(code)], env)


def median(values):
    return statistics.median(values)


def build_lower_bound(directory):
    """The program, and the same code as a shared library."""
    binary = directory / "cache_lower_bound"
    library = directory / "cache_lower_bound.so"
    source = str(HERE / "cache_lower_bound.c")
    subprocess.run(["cc", "-O2", "-o", str(binary), source, "-lsqlite3"], check=True)
    subprocess.run(["cc", "-O2", "-shared", "-fPIC", "-o", str(library), source, "-lsqlite3"],
                   check=True)
    return binary, library


def spin_key(spins):
    return struct.pack(f"<{len(spins)}i", *spins)


def fmt(us):
    return f"{us / 1e3:7.2f} ms" if us >= 1e4 else f"{us:7.1f} us"


def hits(rows, cache, lower_bound, repeats, env):
    binary, library = lower_bound
    db = str(cache / "cgbasis.db")
    print("\n1. Hit (medians; ratios tavrin / other). Fresh process: the first call, the opening"
          " of the database included on every side. Steady: repeated hits, connection open.")
    print("C in Py: the C bound's calls made from a Python process with NumPy and tavrin loaded.")
    print(f"{'row':24} {'bytes':>11} | {'fresh':>10} {'C bound':>10} {'Py sqlite3':>10}"
          f" {'/C':>5} {'/Py':>5} {'C in Py':>10} {'/CPy':>5} | {'steady':>10} {'C bound':>10}"
          f" {'Py sqlite3':>10} {'/C':>5} {'/Py':>5}")
    for label, spins in rows:
        python_us(TAVRIN_HIT.format(spins=spins), env)  # built and stored before timing
        n = repeats
        key = spin_key(spins).hex()
        ours, c_select, c_blob, py, c_py = [], [], [], [], {0: [], 1: []}
        for _ in range(n):  # interleaved, so that load changes hit every side alike
            ours.append(python_us(TAVRIN_HIT.format(spins=spins), env))
            c_select.append(run_us([str(binary), db, key, "select"]))
            c_blob.append(run_us([str(binary), db, key, "blob"]))
            py.append(python_us(PYTHON_HIT.format(key=key, db=db), env))
            for use_blob in (0, 1):
                c_py[use_blob].append(python_us(C_IN_PYTHON.format(
                    spins=spins, library=str(library), db=db, key=key, use_blob=use_blob), env))
        steady_n = max(5, 3 * n) if len(spins) < 9 else n
        steady = python_us(TAVRIN_STEADY.format(spins=spins, repeats=steady_n), env)
        c_steady = min(run_us([str(binary), db, key, mode, str(steady_n)])
                       for mode in ("select", "blob"))
        py_steady = python_us(PYTHON_STEADY.format(key=key, db=db, repeats=steady_n), env)
        size = run_size(db, spins)
        c_bound = min(median(c_select), median(c_blob))
        c_in_python = min(median(c_py[0]), median(c_py[1]))
        print(f"{label:24} {size:11d} | {fmt(median(ours))} {fmt(c_bound)} {fmt(median(py))}"
              f" {median(ours) / c_bound:5.2f} {median(ours) / median(py):5.2f}"
              f" {fmt(c_in_python)} {median(ours) / c_in_python:5.2f} |"
              f" {fmt(steady)} {fmt(c_steady)} {fmt(py_steady)}"
              f" {steady / c_steady:5.2f} {steady / py_steady:5.2f}")


def run_size(db, spins):
    import sqlite3
    connection = sqlite3.connect(db)
    try:
        return connection.execute("SELECT length(data) FROM cgbasis WHERE spins = ?",
                                  (spin_key(spins),)).fetchone()[0]
    finally:
        connection.close()


def stores(local_root, ram_root, repeats, env):
    print("\n2. Storing new small bases (median per call over 40 new keys, medians of runs)")
    results = {}
    for name, root in (("local disk", local_root), ("RAM disk", ram_root)):
        runs = []
        for _ in range(repeats):
            directory = tempfile.mkdtemp(dir=root)
            try:
                runs.append(python_us(TAVRIN_STORE.format(count=40),
                                      dict(env, TAVRIN_CACHE_PATH=directory)))
            finally:
                shutil.rmtree(directory)
        results[name] = median(runs)
        print(f"{name:24} {fmt(results[name])}")
    print(f"{'ratio local / RAM':24} {results['local disk'] / results['RAM disk']:9.2f}")


def huge(cache, repeats, env):
    spins = [2] * 10
    print("\n3. The 285 MB basis (ten spin-1 edges): reading against building")
    builds = []
    for _ in range(max(1, repeats // 3)):
        directory = tempfile.mkdtemp(dir=cache.parent)
        try:
            builds.append(python_us(TAVRIN_HIT.format(spins=spins),
                                    dict(env, TAVRIN_CACHE_PATH=directory)))
        finally:
            shutil.rmtree(directory)
    reads = [python_us(TAVRIN_HIT.format(spins=spins), env) for _ in range(max(3, repeats))]
    print(f"{'build (and store)':24} {fmt(median(builds))}")
    print(f"{'read (fresh process)':24} {fmt(median(reads))}")
    print(f"{'ratio build / read':24} {median(builds) / median(reads):9.2f}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeats", type=int, default=9)
    parser.add_argument("--skip-huge", action="store_true", help="leave out the 285 MB row")
    args = parser.parse_args()
    rows = [r for r in ROWS if not (args.skip_huge and r[1] == [2] * 10)]
    with tempfile.TemporaryDirectory(dir="/var/tmp") as local, \
            tempfile.TemporaryDirectory(dir="/dev/shm") as ram:
        local = pathlib.Path(local)
        cache = local / "cache"
        env = dict(os.environ, TAVRIN_CACHE_PATH=str(cache))
        lower_bound = build_lower_bound(local)
        import sqlite3
        print(f"SQLite {sqlite3.sqlite_version}; local disk {local}, RAM disk {ram}")
        hits(rows, cache, lower_bound, args.repeats, env)
        stores(local, pathlib.Path(ram), args.repeats, env)
        if not args.skip_huge:
            huge(cache, args.repeats, env)


if __name__ == "__main__":
    main()
