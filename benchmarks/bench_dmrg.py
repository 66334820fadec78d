"""Two-site DMRG of open Heisenberg chains: the SU(2) example (examples/su2_dmrg.py) on tavrin's
block tensors against TeNPy's U(1) DMRG on the same chain, side by side in one run, both with
one BLAS thread.

Run after `pip install .` and `pip install -r benchmarks/requirements-dmrg.txt`:

    python benchmarks/bench_dmrg.py [--length 100] [--multiplets 32 64 128] [--sweeps 6]

For each spin and each D* (kept multiplets) the example runs first; TeNPy then runs at
chi_max = D, the largest number of states the SU(2) bonds stood for, the bond dimension at which
a U(1) code holds the same state. Each side runs in a fresh process (its peak memory is that
process's). Times per sweep are medians over the sweeps after the bonds have grown (the second
half of the sweeps). TeNPy's results are kept in a file (--cache) and reused for the same
chain, chi and sweeps: they are slow to make and do not change with tavrin.
"""

import os

for variable in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ[variable] = "1"

import argparse
import importlib.util
import json
import resource
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
# Ground-state energies of the open chains of 100 sites (units of the coupling).
REFERENCE = {1: -44.127739893, 2: -138.940086143}
SPIN_NAMES = {1: "1/2", 2: "1"}


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
    started = time.perf_counter()
    history, _, _ = example.dmrg(length, two_s, multiplets, sweeps, max_discarded_weight=1e-18,
                                 report=lambda line: print(line, file=sys.stderr))
    total = time.perf_counter() - started
    spent = tavrin.block_timings()
    settled = history[len(history) // 2:]  # the bonds after they have grown
    return {"energy": history[-1][0], "truncation_error": history[-1][1],
            "multiplets": max(h[2] for h in settled), "states": max(h[3] for h in settled),
            "sweep_seconds": steady_median([h[4] for h in history]),
            "symbol_share": spent["symbols"] / total, "block_loop_share": spent["block_loops"] / total,
            "peak_mib": peak_memory_mib()}


def run_tenpy(two_s, length, chi, sweeps):
    import warnings
    warnings.simplefilter("ignore")
    from threadpoolctl import threadpool_limits
    from tenpy.algorithms import dmrg
    from tenpy.models.spins import SpinChain
    from tenpy.networks.mps import MPS
    with threadpool_limits(limits=1):
        model = SpinChain({"L": length, "S": two_s / 2, "Jx": 1.0, "Jy": 1.0, "Jz": 1.0,
                           "bc_MPS": "finite", "conserve": "Sz"})
        psi = MPS.from_product_state(model.lat.mps_sites(), ["up", "down"] * (length // 2),
                                     bc="finite")
        engine = dmrg.TwoSiteDMRGEngine(psi, model, {
            "mixer": None, "min_sweeps": sweeps, "max_sweeps": sweeps, "max_E_err": 1e-15,
            "trunc_params": {"chi_max": chi, "svd_min": 1e-18, "trunc_cut": 1e-18}})
        energy, _ = engine.run()
    stats = engine.sweep_stats
    times = [b - a for a, b in zip([0.0] + stats["time"][:-1], stats["time"])]
    return {"energy": float(energy), "truncation_error": float(stats["max_trunc_err"][-1]),
            "states": int(stats["max_chi"][-1]), "sweep_seconds": steady_median(times),
            "peak_mib": peak_memory_mib()}


def in_fresh_process(side, *args):
    """One side's run in its own interpreter, for its own peak memory."""
    result = subprocess.run([sys.executable, __file__, "--child", side, *map(str, args)],
                            capture_output=True, text=True, check=False)
    if result.returncode != 0:
        raise RuntimeError(f"{side} failed:\n{result.stderr}")
    return json.loads(result.stdout.strip().splitlines()[-1])


def cached_tenpy(cache, two_s, length, chi, sweeps):
    key = f"S={two_s}/2 L={length} chi={chi} sweeps={sweeps}"
    known = json.loads(cache.read_text()) if cache.is_file() else {}
    if key not in known:
        known[key] = in_fresh_process("tenpy", two_s, length, chi, sweeps)
        cache.parent.mkdir(parents=True, exist_ok=True)
        cache.write_text(json.dumps(known, indent=1))
    return known[key]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--length", type=int, default=100)
    parser.add_argument("--spins", nargs="+", type=int, default=[1, 2], help="2S of the chains")
    parser.add_argument("--multiplets", nargs="+", type=int, default=[32, 64, 128])
    parser.add_argument("--sweeps", type=int, default=6)
    parser.add_argument("--cache", type=Path, default=ROOT / "build" / "bench_dmrg_tenpy.json")
    parser.add_argument("--child", nargs="+", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        side, *numbers = args.child
        run = run_tavrin if side == "tavrin" else run_tenpy
        print(json.dumps(run(*map(int, numbers))))
        return
    print(f"open Heisenberg chains of {args.length} sites, {args.sweeps} sweeps, one BLAS thread")
    print("spin   D*    D | energy error: tavrin  TeNPy | truncation: tavrin   TeNPy |"
          " s/sweep: tavrin   TeNPy  speed-up | symbols  block loops | MiB: tavrin TeNPy")
    for two_s in args.spins:
        reference = REFERENCE.get(two_s, float("nan")) if args.length == 100 else float("nan")
        for multiplets in args.multiplets:
            ours = in_fresh_process("tavrin", two_s, args.length, multiplets, args.sweeps)
            theirs = cached_tenpy(args.cache, two_s, args.length, ours["states"], args.sweeps)
            print(f"{SPIN_NAMES.get(two_s, two_s):>4} {ours['multiplets']:4d} {ours['states']:4d} |"
                  f"        {ours['energy'] - reference:9.1e} {theirs['energy'] - reference:9.1e} |"
                  f"     {ours['truncation_error']:8.1e} {theirs['truncation_error']:8.1e} |"
                  f"         {ours['sweep_seconds']:7.2f} {theirs['sweep_seconds']:7.2f}"
                  f" {theirs['sweep_seconds'] / ours['sweep_seconds']:8.1f}x |"
                  f" {100 * ours['symbol_share']:6.2f}%     {100 * ours['block_loop_share']:6.1f}% |"
                  f"  {ours['peak_mib']:6.0f} {theirs['peak_mib']:5.0f}", flush=True)


if __name__ == "__main__":
    main()
