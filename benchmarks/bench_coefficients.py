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

Within a process the set is timed in chunks, each chunk by both libraries in turn, so that both
see the same load of a shared machine; each figure and each ratio (tavrin's time over
WIGXJPF's, below 1: tavrin is faster) is the median over the chunks, then over the processes.
"1st-call" is tavrin's own work in a first call (first minus call), next to 0.5 us.
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


def timed(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def child(symbol, n, seed, chunks):
    """Runs in a fresh process: prints one JSON line, the median over the chunks of each
    figure (seconds per call) and of each ratio. The set is timed in chunks, each chunk by
    both libraries one right after the other, so that both see the same load of a shared
    machine."""
    import numpy as np
    import pywigxjpf
    import tavrin

    pywigxjpf.wig_table_init(2 * n + 2, 9)
    pywigxjpf.wig_temp_init(2 * n + 2)
    ours = {"3j": tavrin.wigner_3j, "6j": tavrin.wigner_6j, "9j": tavrin.wigner_9j}[symbol]
    theirs = {"3j": pywigxjpf.wig3jj, "6j": pywigxjpf.wig6jj, "9j": pywigxjpf.wig9jj}[symbol]
    scalar, arrays = argument_sets(symbol, n, CALLS[symbol, n], seed)

    zero = ZERO[symbol]

    figures = {key: [] for key in ("first", "memo", "wigxjpf", "array_first", "array_memo",
                                   "wigxjpf_array", "call", "wigxjpf_call")}
    size = max(1, len(scalar) // chunks)
    gc.disable()
    for start in range(0, len(scalar) - size + 1, size):
        part = scalar[start:start + size]
        column_part = arrays[start:start + size]
        columns = [np.array(c, dtype=np.int32) for c in zip(*column_part)]
        lists = [c.tolist() for c in columns]
        k = len(part)

        def ours_scalar():
            for args in part:
                ours(*args)

        def theirs_scalar():
            for args in part:
                theirs(*args)

        def ours_call():
            for _ in range(k):
                ours(*zero)

        def theirs_call():
            for _ in range(k):
                theirs(*zero)

        figures["first"].append(timed(ours_scalar) / k)
        figures["memo"].append(timed(ours_scalar) / k)
        figures["wigxjpf"].append(timed(theirs_scalar) / k)
        figures["array_first"].append(timed(lambda: ours(*columns)) / len(column_part))
        figures["array_memo"].append(timed(lambda: ours(*columns)) / len(column_part))
        figures["wigxjpf_array"].append(
            timed(lambda: np.array([theirs(*args) for args in zip(*lists)])) / len(column_part))
        figures["call"].append(timed(ours_call) / k)
        figures["wigxjpf_call"].append(timed(theirs_call) / k)
    gc.enable()

    # The results agree: tavrin rounds the exact value once, WIGXJPF's last bits may differ.
    ours_values = np.array([ours(*args) for args in scalar])
    theirs_values = np.array([theirs(*args) for args in scalar])
    scale = np.maximum(np.abs(theirs_values), np.finfo(float).tiny)
    assert np.all(np.abs(ours_values - theirs_values) <= 1e-14 * scale + 1e-300), symbol

    out = {key: statistics.median(values) for key, values in figures.items()}
    for ours_key, theirs_key in (("first", "wigxjpf"), ("memo", "wigxjpf"),
                                 ("array_first", "wigxjpf_array"),
                                 ("array_memo", "wigxjpf_array")):
        out[ours_key + "/W"] = statistics.median(
            a / b for a, b in zip(figures[ours_key], figures[theirs_key]))
    out["first-call"] = statistics.median(
        a - b for a, b in zip(figures["first"], figures["call"]))
    print(json.dumps(out))


def run_child(symbol, n, seed, chunks):
    out = subprocess.run([sys.executable, SCRIPT, "--child", symbol, str(n), str(seed),
                          str(chunks)],
                         check=True, capture_output=True, text=True)
    return json.loads(out.stdout.strip().splitlines()[-1])


def microseconds(seconds):
    return f"{seconds * 1e6:9.3f}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--sizes", default="10,100,1000")
    parser.add_argument("--chunks", type=int, default=20,
                        help="pieces each set is timed in, both libraries in turn")
    parser.add_argument("--child", nargs=4, help=argparse.SUPPRESS)
    options = parser.parse_args()
    if options.child:
        symbol, n, seed, chunks = options.child
        child(symbol, int(n), int(seed), int(chunks))
        return

    sizes = [int(s) for s in options.sizes.split(",")]
    print("times in microseconds per call (per element for arrays), medians of "
          f"{options.repeats} fresh processes")
    print(f"{'symbol':>6} {'2j':>5} | {'first':>9} {'memo':>9} {'WIGXJPF':>9} | "
          f"{'first/W':>7} {'memo/W':>7} | {'arr 1st':>9} {'arr memo':>9} {'W loop':>9} | "
          f"{'a1st/W':>7} {'amemo/W':>7} | {'call':>7} {'W call':>7} {'1st-call':>9}")
    for n in sizes:
        for symbol in SYMBOLS:
            runs = [run_child(symbol, n, 1000 * r + n, options.chunks)
                    for r in range(options.repeats)]
            m = {key: statistics.median(run[key] for run in runs) for key in runs[0]}
            print(f"{symbol:>6} {n:>5} | {microseconds(m['first'])} {microseconds(m['memo'])} "
                  f"{microseconds(m['wigxjpf'])} | {m['first/W']:7.2f} "
                  f"{m['memo/W']:7.2f} | {microseconds(m['array_first'])} "
                  f"{microseconds(m['array_memo'])} {microseconds(m['wigxjpf_array'])} | "
                  f"{m['array_first/W']:7.2f} {m['array_memo/W']:7.2f} | "
                  f"{m['call'] * 1e6:7.3f} {m['wigxjpf_call'] * 1e6:7.3f} "
                  f"{m['first-call'] * 1e6:9.3f}", flush=True)


if __name__ == "__main__":
    main()
