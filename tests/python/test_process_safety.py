"""The library in a process that forks, exits, changes its environment or its directory while
calls run. Each case runs in an interpreter of its own, with a timeout: a fault here hangs or
aborts a process."""

import os
import subprocess
import sys
import textwrap

import pytest

PRELUDE = """
    import os, sys, threading, time, warnings
    import tavrin
    from tavrin import CGSpec, Edge, Spin
    def spec(spins):
        return CGSpec.from_edges([Edge.incoming(Spin(s)) for s in spins[:-1]]
                                 + [Edge.outgoing(Spin(spins[-1]))])
    SMALL = [spec([1, 1, 2]), spec([2, 2, 2, 2]), spec([1, 1, 1, 1, 2]), spec([2, 1, 1, 2])]
    def work():
        for s in SMALL:
            tavrin.canonical_basis(s)
            tavrin.compute_rsymbol(s, list(range(len(s.get_spins())))[::-1])
        tavrin.clebsch_gordan(40, 0, 40, 0, 40, 0)
        tavrin.wigner_6j(20, 20, 20, 20, 20, 20)
"""


def run(code, tmp_path, timeout=120, **env):
    source = textwrap.dedent(PRELUDE) + textwrap.dedent(code)
    script = tmp_path / "case.py"
    script.write_text(source)
    environment = {**os.environ, "TAVRIN_CACHE_PATH": str(tmp_path / "cache"), **env}
    environment = {name: value for name, value in environment.items() if value is not None}
    return subprocess.run([sys.executable, "-W", "ignore::DeprecationWarning", str(script)],
                          env=environment, cwd=tmp_path, capture_output=True, text=True,
                          timeout=timeout)


def test_children_forked_while_threads_compute_use_every_part_of_the_library(tmp_path):
    result = run(
        """
        work()  # NumPy imported before the threads start: Python's imports are not fork-safe
        done = threading.Event()
        def busy():
            while not done.is_set():
                work()
        threads = [threading.Thread(target=busy) for _ in range(2)]
        for t in threads:
            t.start()
        failures = 0
        for _ in range(12):
            time.sleep(0.01)
            pid = os.fork()
            if pid == 0:
                import signal
                signal.alarm(20)  # a child that hangs ends with SIGALRM
                work()
                tavrin.clear_memos()
                work()
                os._exit(0)
            _, status = os.waitpid(pid, 0)
            failures += status != 0
        done.set()
        for t in threads:
            t.join()
        print(failures)
        """,
        tmp_path, TAVRIN_BASIS_STORE_BYTES="0")
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["0"]


@pytest.mark.parametrize("method", ["fork", "spawn", "forkserver"])
def test_worker_pools_of_every_start_method(tmp_path, method):
    result = run(
        f"""
        import multiprocessing
        def basis_sum(spins):
            return float(abs(tavrin.canonical_basis(spec(spins))).sum())
        if __name__ == "__main__":
            work()
            done = threading.Event()
            def busy():
                while not done.is_set():
                    work()
            thread = threading.Thread(target=busy)
            thread.start()
            lists = [[1, 1, 2], [2, 2, 2, 2], [1, 1, 1, 1, 2], [2, 1, 1, 2]] * 3
            with multiprocessing.get_context("{method}").Pool(3) as pool:
                sums = pool.map(basis_sum, lists, chunksize=1)
            done.set()
            thread.join()
            print(sums == [basis_sum(s) for s in lists])
        """,
        tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["True"]


def test_daemon_threads_inside_calls_end_quietly_at_exit(tmp_path):
    for _ in range(3):
        result = run(
            """
            big = spec([2] * 9)
            started = threading.Barrier(5)
            def busy():
                started.wait()
                while True:
                    tavrin.canonical_basis(big)
                    work()
            for _ in range(4):
                threading.Thread(target=busy, daemon=True).start()
            started.wait()
            time.sleep(0.2)
            print("leaving")
            """,
            tmp_path, TAVRIN_BASIS_STORE_BYTES="0")
        assert result.returncode == 0, result.stderr
        assert result.stdout.split() == ["leaving"]
        assert "terminate" not in result.stderr


def test_a_daemon_thread_inside_a_long_call_is_ended_quietly_while_the_interpreter_finalises(
        tmp_path):
    # The interpreter flushes sys.stdout once it has begun to finalise: a slow flush keeps it
    # there while the call (about 0.4 s here) asks for the interpreter lock back and is ended,
    # unwinding through the module's frames.
    result = run(
        """
        class SlowToFlush:
            def __init__(self, stream):
                self.stream = stream
            def write(self, text):
                return self.stream.write(text)
            def flush(self, sleep=time.sleep):
                self.stream.flush()
                sleep(0.3)
        calling = threading.Event()
        def compute():
            calling.set()
            tavrin.canonical_basis(spec([2] * 9))
        threading.Thread(target=compute, daemon=True).start()
        calling.wait()
        time.sleep(0.05)
        sys.stdout = SlowToFlush(sys.stdout)
        print("leaving")
        """,
        tmp_path)
    assert (result.returncode, result.stdout.split(), result.stderr) == (0, ["leaving"], "")


def test_threads_changing_the_variables_while_others_compute(tmp_path):
    result = run(
        """
        good = [os.path.join(os.getcwd(), name) for name in ("one", "two")]
        blocked = os.path.join(os.getcwd(), "blocked")
        open(blocked, "w").close()  # a file where the directory would go
        expected = {i: tavrin.canonical_basis(s).tobytes() for i, s in enumerate(SMALL)}
        done = threading.Event()
        def switch():
            k = 0
            while not done.is_set():
                os.environ["TAVRIN_CACHE_PATH"] = (good + [blocked])[k % 3]
                os.environ["TAVRIN_BASIS_STORE_BYTES"] = ["0", "100000", "junk"][k % 3]
                os.environ["TAVRIN_CLEBSCH_GORDAN_BYTES"] = ["0", "4096"][k % 2]
                k += 1
                time.sleep(0.0005)
        wrong = []
        messages = []
        def compute():
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always")
                for _ in range(150):
                    for i, s in enumerate(SMALL):
                        if tavrin.canonical_basis(s).tobytes() != expected[i]:
                            wrong.append(i)
                        tavrin.compute_rsymbol(s, list(range(len(s.get_spins()))))
            messages.extend(str(w.message) for w in caught)
        switcher = threading.Thread(target=switch)
        switcher.start()
        workers = [threading.Thread(target=compute) for _ in range(3)]
        for w in workers:
            w.start()
        for w in workers:
            w.join()
        done.set()
        switcher.join()
        database = os.path.join(blocked, "cgbasis.db")
        # Every warning names the cache that failed, in its path and in its cause.
        print(len(wrong), all(m.startswith(f"tavrin basis cache {database}: Failed to create")
                              for m in messages))
        """,
        tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["0", "True"]


def test_the_default_cache_stays_where_it_was_opened_after_a_chdir(tmp_path):
    (tmp_path / "elsewhere").mkdir()
    result = run(
        """
        import contextlib, sqlite3
        first = os.getcwd()
        tavrin.canonical_basis(SMALL[0])
        os.chdir("elsewhere")
        for s in SMALL[1:]:
            tavrin.canonical_basis(s)
        path = tavrin._cache_database_path()
        database = os.path.join(first, ".tavrin", "cgbasis.db")
        with contextlib.closing(sqlite3.connect(database)) as connection:
            rows = connection.execute("SELECT count(*) FROM cgbasis").fetchone()[0]
        print(path == os.path.join(first, ".tavrin", "cgbasis.db"), os.path.exists(".tavrin"),
              rows)
        """,
        tmp_path, TAVRIN_CACHE_PATH=None)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["True", "False", "4"]


BLOCK_WORK = """
    import numpy as np
    from tavrin import BlockTensor, Leg, contract
    SITE = Leg.incoming({1: 1})
    BOND = Leg.incoming({0: 2, 2: 2, 4: 1})
    def block_work(seed):
        a = BlockTensor.random([BOND, SITE, BOND.flipped()], seed=seed)
        b = BlockTensor.random([BOND, SITE, BOND.flipped()], seed=seed + 1)
        theta = contract(a, b, [2], [0])
        u, s, v, _ = theta.svd(2, max_multiplets=4)
        back = contract(contract(u, s, [2], [0]), v, [2], [0])
        fused = theta.fuse(1, 2).split(1, [SITE, SITE])
        return (theta.norm(), sum(float((x ** 2).sum()) for x in s.singular_values().values()),
                (fused - theta).norm(), back.permute([3, 2, 1, 0]).norm())
"""


def test_threads_mixing_block_work_with_clearing_and_bounding_the_memos(tmp_path):
    result = run(
        textwrap.dedent(BLOCK_WORK) + textwrap.dedent("""
        expected = {seed: block_work(seed) for seed in range(4)}
        names = list(tavrin.memo_info())
        bounds = {name: info.bound for name, info in tavrin.memo_info().items()}
        done = threading.Event()
        wrong, errors = [], []
        def meddle(k):
            while not done.is_set():
                tavrin.clear_memos()
                name = names[k % len(names)]
                tavrin.set_memo_bound(name, [0, 4096, bounds[name]][k % 3])
                k += 1
        def compute(index):
            try:
                for round in range(150):
                    seed = (index + round) % 4
                    got = block_work(seed)
                    if not np.allclose(got, expected[seed], rtol=1e-12, atol=1e-12):
                        wrong.append((seed, got, expected[seed]))
            except BaseException as error:
                errors.append(repr(error))
        meddlers = [threading.Thread(target=meddle, args=(k,)) for k in range(2)]
        workers = [threading.Thread(target=compute, args=(i,)) for i in range(6)]
        for t in meddlers + workers:
            t.start()
        for t in workers:
            t.join()
        done.set()
        for t in meddlers:
            t.join()
        print(len(wrong), len(errors), errors[:1])
        """),
        tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split()[:2] == ["0", "0"], result.stdout


def test_children_forked_while_a_block_loop_runs_in_another_thread(tmp_path):
    result = run(
        textwrap.dedent(BLOCK_WORK) + textwrap.dedent("""
        expected = block_work(0)
        big = [Leg.incoming({0: 400, 2: 200}), Leg.outgoing({0: 400, 2: 200})]
        done = threading.Event()
        def busy():
            while not done.is_set():
                a = BlockTensor.random(big, seed=1)
                contract(a, a.conj(), [1], [1]).svd(1, max_multiplets=10)
                block_work(1)
        thread = threading.Thread(target=busy)
        thread.start()
        failures = 0
        for _ in range(10):
            time.sleep(0.02)
            pid = os.fork()
            if pid == 0:
                import signal
                signal.alarm(20)  # a child that hangs ends with SIGALRM
                ok = np.allclose(block_work(0), expected, rtol=1e-12, atol=1e-12)
                tavrin.clear_memos()
                ok = ok and np.allclose(block_work(0), expected, rtol=1e-12, atol=1e-12)
                os._exit(0 if ok else 1)
            _, status = os.waitpid(pid, 0)
            failures += status != 0
        done.set()
        thread.join()
        print(failures)
        """),
        tmp_path)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["0"]
