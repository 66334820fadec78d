"""Long calls: another thread's progress during a cold basis build, how fast Ctrl-C stops one,
and pre-building a run's bases with `tavrin cache prebuild` against the serial loop a user would
write instead, and how fast Ctrl-C ends a pre-build.

Run after `pip install .`:  python benchmarks/bench_long_calls.py [--repeats N] [--jobs N]
"""

import argparse
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import warnings

import tavrin
from tavrin import CGSpec, Edge, Spin

LONG_BUILD = [2] * 10  # 285 MB, 603 configurations
PREBUILD_SPINS, PREBUILD_EDGES = "1-2", "2-9"
TICK = 0.01


def spec(spins):
    edges = [Edge.incoming(Spin(s)) for s in spins[:-1]] + [Edge.outgoing(Spin(spins[-1]))]
    return CGSpec.from_edges(edges)


# The cache directories of the run live in here, each removed when the next is made and the
# last at the end: a cold build stores 285 MB, a pre-built cache holds 725 MB.
SCRATCH = tempfile.TemporaryDirectory(prefix="tavrin-bench-")


def fresh_cache():
    for previous in os.listdir(SCRATCH.name):
        shutil.rmtree(os.path.join(SCRATCH.name, previous), ignore_errors=True)
    os.environ["TAVRIN_CACHE_PATH"] = tempfile.mkdtemp(dir=SCRATCH.name)
    return os.environ["TAVRIN_CACHE_PATH"]


def build_with_ticker(spins):
    """(seconds, ticks of a thread that wakes every TICK seconds during the call)."""
    ticks, done = [], threading.Event()

    def ticker():
        while not done.is_set():
            ticks.append(time.perf_counter())
            time.sleep(TICK)

    thread = threading.Thread(target=ticker)
    thread.start()
    time.sleep(5 * TICK)
    fresh_cache()
    start = time.perf_counter()
    tavrin.canonical_basis(spec(spins))
    end = time.perf_counter()
    done.set()
    thread.join()
    return end - start, sum(start < t < end for t in ticks)


def build_alone(spins):
    fresh_cache()
    start = time.perf_counter()
    tavrin.canonical_basis(spec(spins))
    return time.perf_counter() - start


def build_only(spins):
    """Seconds of a cold build that stores nothing: the cache path lies under a regular file."""
    blocker = os.path.join(fresh_cache(), "file")
    open(blocker, "w").close()
    os.environ["TAVRIN_CACHE_PATH"] = blocker
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", RuntimeWarning)
        start = time.perf_counter()
        tavrin.canonical_basis(spec(spins))
        return time.perf_counter() - start


def interrupt_latency(spins, delay):
    """Seconds from SIGINT to KeyboardInterrupt, SIGINT sent `delay` s into a cold build."""
    fresh_cache()
    sent = []

    def interrupt():
        sent.append(time.perf_counter())
        os.kill(os.getpid(), signal.SIGINT)

    timer = threading.Timer(delay, interrupt)
    timer.start()
    try:
        tavrin.canonical_basis(spec(spins))
    except KeyboardInterrupt:
        return time.perf_counter() - sent[0]
    timer.cancel()
    time.sleep(2 * TICK)
    return None


def serial_loop(lists):
    fresh_cache()
    start = time.perf_counter()
    for spins in lists:
        tavrin.canonical_basis(spec(spins))
    return time.perf_counter() - start


def prebuild(jobs):
    fresh_cache()
    start = time.perf_counter()
    subprocess.run([sys.executable, "-m", "tavrin_cli", "cache", "prebuild", "--spins",
                    PREBUILD_SPINS, "--edges", PREBUILD_EDGES, "--jobs", str(jobs)],
                   check=True, capture_output=True)
    return time.perf_counter() - start


def prebuild_interrupt_latency(delay, jobs):
    """Seconds from Ctrl-C (to the whole process group, as a terminal sends it) `delay` seconds
    into a pre-build until the command has ended, and the bases it had stored by then."""
    cache = fresh_cache()
    command = [sys.executable, "-m", "tavrin_cli", "cache", "prebuild", "--spins", PREBUILD_SPINS,
               "--edges", PREBUILD_EDGES, "--list", ",".join(map(str, LONG_BUILD)),
               "--jobs", str(jobs)]
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                               text=True, start_new_session=True)
    time.sleep(delay)
    start = time.perf_counter()
    os.killpg(process.pid, signal.SIGINT)
    _, err = process.communicate()
    latency = time.perf_counter() - start
    stored = err.split("interrupted: ")[1].split()[0] if "interrupted: " in err else "all"
    shutil.rmtree(cache, ignore_errors=True)
    return latency, stored


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    args = parser.parse_args()

    alone = statistics.median(build_alone(LONG_BUILD) for _ in range(args.repeats))
    runs = [build_with_ticker(LONG_BUILD) for _ in range(args.repeats)]
    seconds = statistics.median(r[0] for r in runs)
    ticks = statistics.median(r[1] for r in runs)
    print(f"cold build of {len(LONG_BUILD)} x 2j={LONG_BUILD[0]}: {alone:.2f} s alone, "
          f"{seconds:.2f} s beside a ticking thread (ratio {seconds / alone:.2f})")
    print(f"  ticks of the other thread: {ticks:.0f} of at most {seconds / TICK:.0f} "
          f"({ticks * TICK / seconds:.0%})")

    building = statistics.median(build_only(LONG_BUILD) for _ in range(args.repeats))
    print(f"  of which building {building:.2f} s, storing {alone - building:.2f} s")
    random.seed(1)
    # Interrupts sent while the basis is built, then while the finished basis is written.
    windows = {"the build": (0.05, 0.9 * building),
               "the write of the finished basis": (building + 0.05, alone - 0.05)}
    for phase, (first, last) in windows.items():
        if last <= first:
            continue
        latencies = [interrupt_latency(LONG_BUILD, random.uniform(first, last))
                     for _ in range(4 * args.repeats)]
        measured = sorted(x for x in latencies if x is not None)
        if measured:
            print(f"Ctrl-C during {phase}: median {1e3 * statistics.median(measured):.0f} ms, "
                  f"max {1e3 * measured[-1]:.0f} ms over {len(measured)} interrupts")

    from tavrin_cli.arguments import doubled_spins, edge_counts
    from tavrin_cli.spin_lists import plan
    lists = [p.spins for p in plan(doubled_spins(PREBUILD_SPINS), edge_counts(PREBUILD_EDGES), [])]
    serial = statistics.median(serial_loop(lists) for _ in range(args.repeats))
    print(f"pre-building {len(lists)} bases (--spins {PREBUILD_SPINS} --edges {PREBUILD_EDGES}):")
    print(f"  serial loop in one process   {serial:7.2f} s   1.00")
    for jobs in sorted({1, args.jobs}):
        parallel = statistics.median(prebuild(jobs) for _ in range(args.repeats))
        print(f"  tavrin cache prebuild -j {jobs:<3} {parallel:7.2f} s   {serial / parallel:.2f}")

    # Ctrl-C at moments spread over the first seconds of a pre-build (its 285 MB basis, built and
    # stored first, keeps the storer busy for seconds).
    outcomes = [prebuild_interrupt_latency(random.uniform(1.0, 8.0), args.jobs)
                for _ in range(4 * args.repeats)]
    latencies = sorted(latency for latency, _ in outcomes)
    print(f"Ctrl-C during tavrin cache prebuild -j {args.jobs}: median "
          f"{1e3 * statistics.median(latencies):.0f} ms, max {1e3 * latencies[-1]:.0f} ms over "
          f"{len(latencies)} interrupts (bases stored by then: "
          f"{', '.join(stored for _, stored in outcomes)})")


if __name__ == "__main__":
    main()
