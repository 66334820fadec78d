"""3j, 6j and 9j symbols side by side with WIGXJPF (through pywigxjpf) at 2j = 10, 100, 1000.

Run after `pip install .` and `pip install -r benchmarks/requirements-coefficients.txt`:

    python benchmarks/bench_coefficients.py [--repeats 5] [--sizes 10,100,1000]

For each symbol and size a set of distinct arguments that pass the selection rules is drawn,
every doubled spin uniformly from 0 to 2j (magnetic numbers uniformly from their ranges). Each
repeat runs in a fresh child process, so tavrin's memos start empty there, and times per call:

- first:  tavrin's scalar calls over the set, each argument seen for the first time;
- memo:   the same calls again, answered from tavrin's memo;
- array:  one array call over another such set (first time), per element, and again (memo);
- WIGXJPF: pywigxjpf's scalar calls over the same sets (it keeps no memo: a repeated call costs
  what a first one does; for arrays, a comprehension over the elements is what its user writes);
- call:   a call with arguments that fail a selection rule, which returns 0.0 at once: the cost
  of the Python call itself on each side.

Every figure is the median over the repeats; a ratio is tavrin's time over WIGXJPF's (below 1:
tavrin is faster). "first - call" is tavrin's own work in a first call, next to 0.5 us.
"""

import argparse
import gc
import json
import os
import random
import statistics
import subprocess
import sys
import time

SCRIPT = os.path.abspath(__file__)
SYMBOLS = ("3j", "6j", "9j")
# Calls per set: enough for a stable figure, few where one call takes long.
CALLS = {("3j", 10): 4000, ("6j", 10): 4000, ("9j", 10): 1000,
         ("3j", 100): 2000, ("6j", 100): 1000, ("9j", 100): 20,
         ("3j", 1000): 200, ("6j", 1000): 40, ("9j", 1000): 2}


def _couples(a, b, c):
    return abs(a - b) <= c <= a + b and (a + b + c) % 2 == 0


def _coupled(rng, a, b, limit):
    """A doubled spin c <= limit with (a b c) a triad, or None."""
    choices = range(abs(a - b), min(a + b, limit) + 1, 2)
    return rng.choice(choices) if choices else None


def _three_j(rng, n):
    while True:
        j1, j2 = rng.randint(0, n), rng.randint(0, n)
        j3 = _coupled(rng, j1, j2, n)
        if j3 is None:
            continue
        m1, m2 = rng.randrange(-j1, j1 + 1, 2), rng.randrange(-j2, j2 + 1, 2)
        if abs(m1 + m2) <= j3:
            return (j1, j2, j3, m1, m2, -m1 - m2)


def _six_j(rng, n):
    while True:
        a, b, e = rng.randint(0, n), rng.randint(0, n), rng.randint(0, n)
        c, f = _coupled(rng, a, b, n), _coupled(rng, a, e, n)
        if c is None or f is None:
            continue
        d = _coupled(rng, b, f, n)
        if d is not None and _couples(d, e, c):
            return (a, b, c, d, e, f)


def _nine_j(rng, n):
    while True:
        j1, j2, j4, j5 = (rng.randint(0, n) for _ in range(4))
        j3, j6 = _coupled(rng, j1, j2, n), _coupled(rng, j4, j5, n)
        j7, j8 = _coupled(rng, j1, j4, n), _coupled(rng, j2, j5, n)
        if None in (j3, j6, j7, j8):
            continue
        j9 = _coupled(rng, j3, j6, n)
        if j9 is not None and _couples(j7, j8, j9):
            return (j1, j2, j3, j4, j5, j6, j7, j8, j9)


DRAW = {"3j": _three_j, "6j": _six_j, "9j": _nine_j}
# Arguments that fail a selection rule (an odd triad sum).
ZERO = {"3j": (1, 1, 1, 1, -1, 1), "6j": (1, 1, 1, 1, 1, 1), "9j": (1, 1, 1, 1, 1, 1, 1, 1, 1)}


def argument_sets(symbol, n, count, seed):
    """Two disjoint sets of distinct argument tuples."""
    rng = random.Random(seed)
    seen = set()
    sets = ([], [])
    attempts = 0
    while len(sets[1]) < count and attempts < 200 * count:
        attempts += 1
        args = DRAW[symbol](rng, n)
        if args in seen:
            continue
        seen.add(args)
        (sets[0] if len(sets[0]) < count else sets[1]).append(args)
    return sets


def per_call(action, calls):
    gc.disable()
    start = time.perf_counter()
    action()
    elapsed = time.perf_counter() - start
    gc.enable()
    return elapsed / calls


def child(symbol, n, seed):
    """Runs in a fresh process: prints one JSON line of timings (seconds per call)."""
    import numpy as np
    import pywigxjpf
    import tavrin

    pywigxjpf.wig_table_init(2 * n + 2, 9)
    pywigxjpf.wig_temp_init(2 * n + 2)
    ours = {"3j": tavrin.wigner_3j, "6j": tavrin.wigner_6j, "9j": tavrin.wigner_9j}[symbol]
    theirs = {"3j": pywigxjpf.wig3jj, "6j": pywigxjpf.wig6jj, "9j": pywigxjpf.wig9jj}[symbol]
    scalar, arrays = argument_sets(symbol, n, CALLS[symbol, n], seed)
    count = len(scalar)
    columns = [np.array(c, dtype=np.int32) for c in zip(*arrays)]
    lists = [c.tolist() for c in columns]
    zero = ZERO[symbol]

    def ours_scalar():
        for args in scalar:
            ours(*args)

    def theirs_scalar():
        for args in scalar:
            theirs(*args)

    def theirs_array():
        np.array([theirs(*args) for args in zip(*lists)])

    def ours_call():
        for _ in range(count):
            ours(*zero)

    def theirs_call():
        for _ in range(count):
            theirs(*zero)

    # The results agree: tavrin rounds the exact value once, WIGXJPF's last bits may differ.
    ours_values = ours(*columns)
    theirs_values = np.array([theirs(*args) for args in zip(*lists)])
    scale = np.maximum(np.abs(theirs_values), np.finfo(float).tiny)
    assert np.all(np.abs(ours_values - theirs_values) <= 1e-14 * scale + 1e-300), symbol

    # The array's first call: a new set, then the same set again. ours(*columns) above has
    # already filled the memo for this set; draw a third set for the first-call figure.
    fresh = argument_sets(symbol, n, CALLS[symbol, n], seed + 7919)[1]
    fresh_columns = [np.array(c, dtype=np.int32) for c in zip(*fresh)]
    timings = {
        "first": per_call(ours_scalar, count),
        "memo": per_call(ours_scalar, count),
        "wigxjpf": per_call(theirs_scalar, count),
        "array_first": per_call(lambda: ours(*fresh_columns), len(fresh)),
        "array_memo": per_call(lambda: ours(*columns), count),
        "wigxjpf_array": per_call(theirs_array, count),
        "call": per_call(ours_call, count),
        "wigxjpf_call": per_call(theirs_call, count),
    }
    print(json.dumps(timings))


def run_child(symbol, n, seed):
    out = subprocess.run([sys.executable, SCRIPT, "--child", symbol, str(n), str(seed)],
                         check=True, capture_output=True, text=True)
    return json.loads(out.stdout.strip().splitlines()[-1])


def microseconds(seconds):
    return f"{seconds * 1e6:9.3f}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--sizes", default="10,100,1000")
    parser.add_argument("--child", nargs=3, help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.child:
        symbol, n, seed = options.child
        child(symbol, int(n), int(seed))
        return

    sizes = [int(s) for s in options.sizes.split(",")]
    print("times in microseconds per call (per element for arrays), medians of "
          f"{options.repeats} fresh processes")
    print(f"{'symbol':>6} {'2j':>5} | {'first':>9} {'memo':>9} {'WIGXJPF':>9} | "
          f"{'first/W':>7} {'memo/W':>7} | {'arr 1st':>9} {'arr memo':>9} {'W loop':>9} | "
          f"{'a1st/W':>7} {'amemo/W':>7} | {'call':>7} {'W call':>7} {'1st-call':>9}")
    for n in sizes:
        for symbol in SYMBOLS:
            runs = [run_child(symbol, n, 1000 * r + n) for r in range(options.repeats)]
            m = {key: statistics.median(run[key] for run in runs) for key in runs[0]}
            print(f"{symbol:>6} {n:>5} | {microseconds(m['first'])} {microseconds(m['memo'])} "
                  f"{microseconds(m['wigxjpf'])} | {m['first'] / m['wigxjpf']:7.2f} "
                  f"{m['memo'] / m['wigxjpf']:7.2f} | {microseconds(m['array_first'])} "
                  f"{microseconds(m['array_memo'])} {microseconds(m['wigxjpf_array'])} | "
                  f"{m['array_first'] / m['wigxjpf_array']:7.2f} "
                  f"{m['array_memo'] / m['wigxjpf_array']:7.2f} | "
                  f"{m['call'] * 1e6:7.3f} {m['wigxjpf_call'] * 1e6:7.3f} "
                  f"{(m['first'] - m['call']) * 1e6:9.3f}", flush=True)


if __name__ == "__main__":
    main()
