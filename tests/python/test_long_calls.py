"""Long calls run without the interpreter lock and stop on Ctrl-C, storing nothing half-built.
Each case runs in its own interpreter, whose main thread receives the signal."""

import os
import struct
import subprocess
import sys
import textwrap

import pytest

from spec_factory import connected

# Ten spin-1 edges: a 285 MB basis of 603 configurations, about a second of building here.
SPINS = [2] * 10

BUILD = f"""
    import os, signal, sys, threading, time
    import tavrin
    spins = {SPINS}
    edges = [tavrin.Edge.incoming(tavrin.Spin(s)) for s in spins[:-1]]
    spec = tavrin.CGSpec.from_edges(edges + [tavrin.Edge.outgoing(tavrin.Spin(spins[-1]))])
    tavrin.canonical_basis(tavrin.CGSpec.from_edges(edges[:2]))  # NumPy and the cache are ready
"""


def run_build(code, cache_dir):
    source = textwrap.dedent(BUILD) + textwrap.dedent(code)
    return subprocess.run([sys.executable, "-c", source], env={**os.environ, "TAVRIN_CACHE_PATH": str(cache_dir)},
                          capture_output=True, text=True, timeout=300)


def ticks_during(run, call, cache_dir, interval):
    """How often another thread of the child ticked, every `interval` seconds, while the
    one-line `call` ran (run_build or run_blocks gives the child its set-up)."""
    result = run(
        f"""
        ticks, done = [], threading.Event()
        def ticker():
            while not done.is_set():
                ticks.append(time.perf_counter())
                time.sleep({interval})
        thread = threading.Thread(target=ticker)
        thread.start()
        time.sleep(0.05)
        start = time.perf_counter()
        {call}
        end = time.perf_counter()
        done.set()
        thread.join()
        print(sum(start < t < end for t in ticks), round(end - start, 2))
        """,
        cache_dir,
    )
    assert result.returncode == 0, result.stderr
    ticks, seconds = result.stdout.split()
    return int(ticks), seconds


def test_another_thread_runs_during_a_long_build(tmp_path):
    ticks, seconds = ticks_during(run_build, "tavrin.canonical_basis(spec)", tmp_path, 0.01)
    # With the lock held for the whole call the thread would tick at most once.
    assert ticks >= 10, f"{ticks} ticks in {seconds} s"


def test_ctrl_c_stops_a_long_build_quickly_and_stores_nothing(tmp_path):
    result = run_build(
        """
        sent = []
        def interrupt():
            sent.append(time.perf_counter())
            os.kill(os.getpid(), signal.SIGINT)
        threading.Timer(0.15, interrupt).start()
        try:
            tavrin.canonical_basis(spec)
            print("finished")
        except KeyboardInterrupt:
            print("KeyboardInterrupt", round(time.perf_counter() - sent[0], 3))
        """,
        tmp_path,
    )
    assert result.returncode == 0, result.stderr
    outcome, latency = result.stdout.split()
    assert outcome == "KeyboardInterrupt"
    assert float(latency) < 1.0  # about 0.05 s when the machine is quiet
    with connected(tmp_path / "cgbasis.db") as database:
        key = struct.pack(f"<{len(SPINS)}i", *SPINS)
        rows = database.execute("SELECT count(*) FROM cgbasis WHERE spins = ?", (key,)).fetchone()
    assert rows == (0,)


def test_ctrl_c_in_a_thread_other_than_main_reaches_main_after_the_call(tmp_path):
    result = run_build(
        """
        results = []
        def work():
            results.append(tavrin.canonical_basis(spec).shape[-1])
        thread = threading.Thread(target=work)
        thread.start()
        time.sleep(0.15)
        try:
            os.kill(os.getpid(), signal.SIGINT)
            time.sleep(60)
        except KeyboardInterrupt:
            print("main interrupted")
        thread.join()
        print(results)
        """,
        tmp_path,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["main interrupted", "[603]"]


# Block tensors: the admissible blocks of many legs of many spins (16^6 tuples of sectors take
# about a minute to go through), filling a large tensor, a Lanczos iteration of many products.
BLOCKS = """
    import os, signal, sys, threading, time
    import tavrin
    from tavrin import BlockTensor, Leg, contract
    SPINS = {j: 1 for j in range(16)}
    MANY = [Leg.incoming(SPINS)] * 5 + [Leg.outgoing(SPINS)]
    LARGE = [Leg.incoming({0: 3000}), Leg.outgoing({0: 3000})]  # 9e6 entries
    MATRIX = [Leg.incoming({0: 500}), Leg.outgoing({0: 500})]  # a product in about 10 ms
    BlockTensor.random([Leg.incoming({0: 1}), Leg.outgoing({0: 1})])  # NumPy is ready
    def interrupt_after(seconds):
        sent = []
        def interrupt():
            sent.append(time.perf_counter())
            os.kill(os.getpid(), signal.SIGINT)
        threading.Timer(seconds, interrupt).start()
        return sent
"""


def run_blocks(code, cache_dir):
    source = textwrap.dedent(BLOCKS) + textwrap.dedent(code)
    return subprocess.run([sys.executable, "-c", source],
                          env={**os.environ, "TAVRIN_CACHE_PATH": str(cache_dir)},
                          capture_output=True, text=True, timeout=300)


def test_another_thread_runs_while_a_large_tensor_is_filled(tmp_path):
    ticks, seconds = ticks_during(
        run_blocks, "for seed in range(3): BlockTensor.random(LARGE, seed=seed)", tmp_path, 0.005)
    # With the lock held for each call the thread would tick at most three times.
    assert ticks >= 10, f"{ticks} ticks in {seconds} s"


@pytest.mark.parametrize("call", [
    "BlockTensor.zeros(MANY)",
    "tavrin.lowest_eigenpair(BlockTensor.random(MATRIX, seed=1), "
    "[(BlockTensor.random(MATRIX, seed=2), [0], [1], True)] * 20, max_iterations=500)",
], ids=["admissible-blocks", "lanczos"])
def test_ctrl_c_stops_a_long_block_call_quickly(tmp_path, call):
    result = run_blocks(
        f"""
        sent = interrupt_after(0.3)
        try:
            {call}
            print("finished")
        except KeyboardInterrupt:
            print("KeyboardInterrupt", round(time.perf_counter() - sent[0], 3))
        """,
        tmp_path,
    )
    assert result.returncode == 0, result.stderr
    outcome, latency = result.stdout.split()
    assert outcome == "KeyboardInterrupt"
    assert float(latency) < 1.0
