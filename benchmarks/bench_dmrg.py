"""Two-site DMRG of open Heisenberg chains: the SU(2) example (examples/su2_dmrg.py) on tavrin's
block tensors against TeNPy's U(1) DMRG on the same chain, side by side, both with one BLAS
thread (or NumPy's default threads: --blas-threads default).

Run after `pip install .` and `pip install -r benchmarks/requirements-dmrg.txt`:

    python benchmarks/bench_dmrg.py [--length 100] [--multiplets 32 64 128] [--sweeps 6]
                                    [--blas-threads 1|default]

For each spin and each D* (kept multiplets) the example runs first; D is the largest number of
states its SU(2) bonds stood for. The two codes are compared at matched accuracy: TeNPy runs at
chi_max on a ladder around D (CHI_LADDER times D), from D down while it still matches and up until
it does or a larger chi no longer lowers its energy, and the table takes the smallest chi whose
energy error is at most tavrin's, within MATCH (ten times the scatter of a converged energy from
sweep to sweep, 1e-12 on these chains). If no chi matches, the row compares with TeNPy's largest
chi tried and says so. Energy errors are measured from the lowest energy either code reached on the
chain: published values for these chains differ between codes by more than the errors compared
here.

Each run is a fresh process (its peak memory is that process's). Times per sweep are medians
over the sweeps after the bonds have grown (the second half of the sweeps). TeNPy's results
are kept in a file (--cache) and reused for the same chain, chi and sweeps: they are slow to
make and do not change with tavrin. On a shared machine the times per sweep follow its load:
the tables (Markdown) give the one-minute load average as each run ended, and the CPU speed-up,
the ratio of the processor time of the two whole runs (set-up and every sweep), which the load
moves much less. Each run is reported on stderr as it ends.
"""

import os
import sys


def blas_pinned(argv):
    """False where the command line asks for NumPy's default BLAS threads."""
    return not any(arg == "--blas-threads=default" or
                   (arg == "--blas-threads" and following == "default")
                   for arg, following in zip(argv, argv[1:] + [""]))


# Before NumPy is imported, here and in the children (which inherit the environment).
BLAS_PINNED = blas_pinned(sys.argv)
if BLAS_PINNED:
    for variable in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
        os.environ[variable] = "1"

import argparse
import importlib.util
import json
import resource
import statistics
import subprocess
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
SPIN_NAMES = {1: "1/2", 2: "1"}
# Published ground-state energies of the open chains of 100 sites, for comparison only.
PUBLISHED = {1: -44.127739893, 2: -138.940086143}
CHI_LADDER = (0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0, 1.1, 1.25, 1.5)
MATCH = 1e-11


def peak_memory_mib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def steady_median(times):
    return statistics.median(times[len(times) // 2:])


def run_tavrin(two_s, length, multiplets, sweeps):
    import tavrin
    spec = importlib.util.spec_from_file_location("su2_dmrg", ROOT / "examples" / "su2_dmrg.py")
    example = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(example)
    tavrin.reset_block_timings()
    started, cpu_started = time.perf_counter(), time.process_time()
    history, _, _ = example.dmrg(length, two_s, multiplets, sweeps, max_discarded_weight=1e-18,
                                 report=lambda line: print(line, file=sys.stderr))
    total, cpu = time.perf_counter() - started, time.process_time() - cpu_started
    spent = tavrin.block_timings()
    settled = history[len(history) // 2:]  # the bonds after they have grown
    return {"energy": history[-1][0], "truncation_error": history[-1][1],
            "multiplets": max(h[2] for h in settled), "states": max(h[3] for h in settled),
            "sweep_seconds": steady_median([h[4] for h in history]),
            "symbol_share": spent["symbols"] / total, "block_loop_share": spent["block_loops"] / total,
            "cpu_seconds": cpu, "peak_mib": peak_memory_mib(), "load": os.getloadavg()[0]}


def run_tenpy(two_s, length, chi, sweeps):
    import warnings
    warnings.simplefilter("ignore")
    from threadpoolctl import threadpool_limits
    from tenpy.algorithms import dmrg
    from tenpy.models.spins import SpinChain
    from tenpy.networks.mps import MPS
    with threadpool_limits(limits=1 if BLAS_PINNED else None):
        cpu_started = time.process_time()
        model = SpinChain({"L": length, "S": two_s / 2, "Jx": 1.0, "Jy": 1.0, "Jz": 1.0,
                           "bc_MPS": "finite", "conserve": "Sz"})
        psi = MPS.from_product_state(model.lat.mps_sites(), ["up", "down"] * (length // 2),
                                     bc="finite")
        engine = dmrg.TwoSiteDMRGEngine(psi, model, {
            "mixer": None, "min_sweeps": sweeps, "max_sweeps": sweeps, "max_E_err": 1e-15,
            "trunc_params": {"chi_max": chi, "svd_min": 1e-18, "trunc_cut": 1e-18}})
        energy, _ = engine.run()
        cpu = time.process_time() - cpu_started
    stats = engine.sweep_stats
    times = [b - a for a, b in zip([0.0] + stats["time"][:-1], stats["time"])]
    return {"energy": float(energy), "truncation_error": float(stats["max_trunc_err"][-1]),
            "states": int(stats["max_chi"][-1]), "sweep_seconds": steady_median(times),
            "cpu_seconds": cpu, "peak_mib": peak_memory_mib(), "load": os.getloadavg()[0]}


def in_fresh_process(side, *args):
    """One side's run in its own interpreter, for its own peak memory."""
    threads = [] if BLAS_PINNED else ["--blas-threads", "default"]
    result = subprocess.run([sys.executable, __file__, *threads, "--child", side, *map(str, args)],
                            capture_output=True, text=True, check=False)
    if result.returncode != 0:
        raise RuntimeError(f"{side} failed:\n{result.stderr}")
    return json.loads(result.stdout.strip().splitlines()[-1])


def progress(line):
    print(line, file=sys.stderr, flush=True)


class TenpyRuns:
    """TeNPy's runs of one chain by chi, from the cache file or made and added to it."""

    def __init__(self, cache, two_s, length, sweeps):
        self.cache, self.two_s, self.length, self.sweeps = cache, two_s, length, sweeps
        self.runs = {}

    def __call__(self, chi):
        if chi not in self.runs:
            key = f"S={self.two_s}/2 L={self.length} chi={chi} sweeps={self.sweeps}" + (
                "" if BLAS_PINNED else " blas=default")
            known = json.loads(self.cache.read_text()) if self.cache.is_file() else {}
            if key not in known:
                known[key] = in_fresh_process("tenpy", self.two_s, self.length, chi, self.sweeps)
                self.cache.parent.mkdir(parents=True, exist_ok=True)
                self.cache.write_text(json.dumps(known, indent=1))
            self.runs[chi] = known[key]
            progress(f"TeNPy 2S={self.two_s} chi={chi}: E = {known[key]['energy']:.12f}  "
                     f"{known[key]['sweep_seconds']:.2f} s/sweep")
        return self.runs[chi]


def matched_chi(tenpy, ours):
    """The smallest chi of the ladder around tavrin's D whose energy is within MATCH of
    tavrin's or below, and a note if it is not that: the ladder's lowest chi matched (a
    smaller one might too), or none did (the largest chi tried). The ladder is not climbed
    further once a larger chi no longer lowers TeNPy's energy by MATCH: what is left is not
    the truncation's (an open spin-1 chain's U(1) state may keep some of the triplet that lies
    e^(-L/xi) above the singlet)."""
    ladder = sorted({max(1, round(factor * ours["states"])) for factor in CHI_LADDER})
    start = ladder.index(ours["states"])

    def matches(chi):
        return tenpy(chi)["energy"] <= ours["energy"] + MATCH

    if matches(ladder[start]):
        below = start
        while below > 0 and matches(ladder[below - 1]):
            below -= 1
        return ladder[below], "" if below else " (the lowest tried)"
    tried = ladder[start]
    for chi in ladder[start + 1:]:
        if matches(chi):
            return chi, ""
        settled = tenpy(tried)["energy"] - tenpy(chi)["energy"] < MATCH
        tried = chi
        if settled:
            break
    return tried, " (none matched)"


def compare(two_s, length, multiplets, sweeps, cache):
    """Tavrin's run at each D* and TeNPy's at its matched chi: rows for the table."""
    tenpy = TenpyRuns(cache, two_s, length, sweeps)
    rows = []
    for kept in multiplets:
        ours = in_fresh_process("tavrin", two_s, length, kept, sweeps)
        progress(f"tavrin 2S={two_s} D*={kept}: E = {ours['energy']:.12f}  D = {ours['states']}"
                 f"  {ours['sweep_seconds']:.2f} s/sweep")
        chi, note = matched_chi(tenpy, ours)
        rows.append((ours, f"{chi}{note}", tenpy(chi)))
    best = min([ours["energy"] for ours, *_ in rows] +
               [run["energy"] for run in tenpy.runs.values()])
    return best, rows, tenpy.runs


def table_row(two_s, best, ours, chi, theirs):
    cells = [SPIN_NAMES.get(two_s, f"{two_s}/2"), ours["multiplets"], ours["states"], chi,
             f"{ours['energy'] - best:.1e}", f"{theirs['energy'] - best:.1e}",
             f"{ours['truncation_error']:.1e}", f"{theirs['truncation_error']:.1e}",
             f"{ours['sweep_seconds']:.2f}", f"{theirs['sweep_seconds']:.2f}",
             f"{theirs['sweep_seconds'] / ours['sweep_seconds']:.1f}x", cpu_ratio(ours, theirs),
             f"{100 * ours['symbol_share']:.2f} %", f"{100 * ours['block_loop_share']:.0f} %",
             f"{ours['peak_mib']:.0f}", f"{theirs['peak_mib']:.0f}", load(ours), load(theirs)]
    return "| " + " | ".join(map(str, cells)) + " |"


def cpu_ratio(ours, theirs):
    """TeNPy's processor time over tavrin's, whole runs (older cached runs lack it)."""
    if "cpu_seconds" not in theirs:
        return "-"
    return f"{theirs['cpu_seconds'] / ours['cpu_seconds']:.1f}x"


def cpu(run):
    return f"{run['cpu_seconds']:.1f}" if "cpu_seconds" in run else "-"


def load(run):
    """The machine's one-minute load average as the run ended (older cached runs lack it)."""
    return f"{run['load']:.1f}" if "load" in run else "-"


HEADER = ("| spin | D* | D | TeNPy chi | ΔE tavrin | ΔE TeNPy | truncation tavrin "
          "| truncation TeNPy | s/sweep tavrin | s/sweep TeNPy | speed-up | CPU speed-up | symbols "
          "| block loops | MiB tavrin | MiB TeNPy | load tavrin | load TeNPy |")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--length", type=int, default=100)
    parser.add_argument("--spins", nargs="+", type=int, default=[1, 2], help="2S of the chains")
    parser.add_argument("--multiplets", nargs="+", type=int, default=[32, 64, 128])
    parser.add_argument("--sweeps", type=int, default=6)
    parser.add_argument("--cache", type=Path, default=ROOT / "build" / "bench_dmrg_tenpy.json")
    parser.add_argument("--blas-threads", choices=["1", "default"], default="1",
                        help="NumPy's BLAS threads for both codes (default: 1)")
    parser.add_argument("--child", nargs="+", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        side, *numbers = args.child
        run = run_tavrin if side == "tavrin" else run_tenpy
        print(json.dumps(run(*map(int, numbers))))
        return
    results = [(two_s, *compare(two_s, args.length, args.multiplets, args.sweeps, args.cache))
               for two_s in args.spins]
    threads = "one BLAS thread" if BLAS_PINNED else "NumPy's default BLAS threads"
    print(f"Open Heisenberg chains of {args.length} sites, {args.sweeps} sweeps, {threads}. "
          "Energy errors ΔE from the lowest energy either code reached:")
    for two_s, best, _, _ in results:
        published = PUBLISHED.get(two_s) if args.length == 100 else None
        print(f"spin {SPIN_NAMES.get(two_s, f'{two_s}/2')}: {best:.12f}" + (
            "" if published is None else f" (published {published}: {best - published:+.1e})"))
    print()
    print(HEADER)
    print("|" + "---|" * HEADER.count(" |"))
    for two_s, best, rows, _ in results:
        for row in rows:
            print(table_row(two_s, best, *row))
    print()
    print("| spin | TeNPy chi | ΔE | truncation | s/sweep | CPU s | load |")
    print("|---|---|---|---|---|---|---|")
    for two_s, best, _, runs in results:
        for chi, run in sorted(runs.items()):
            print(f"| {SPIN_NAMES.get(two_s, f'{two_s}/2')} | {chi} | {run['energy'] - best:.1e} "
                  f"| {run['truncation_error']:.1e} | {run['sweep_seconds']:.2f} "
                  f"| {cpu(run)} | {load(run)} |")


if __name__ == "__main__":
    main()
