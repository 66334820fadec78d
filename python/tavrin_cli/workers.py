"""Where bases are built: worker processes on this machine, or the workers of an MPI pool
(mpi4py.futures, whose workers may be on other nodes). A worker builds a task's bases into a
scratch cache of its own and hands back the rows as the library stored them (the scratch cache
itself, on the main process's machine), so that only one process writes to the cache."""

import collections
import contextlib
import multiprocessing
import os
import shutil
import signal
import sqlite3
import tempfile
import warnings
from collections.abc import Callable, Iterable, Iterator
from concurrent.futures import FIRST_COMPLETED, BrokenExecutor, Future
from concurrent.futures import wait as futures_wait
from contextlib import closing
from dataclasses import dataclass, field
from multiprocessing.connection import Connection
from multiprocessing.connection import wait as wait_for
from pathlib import Path
from typing import Any

import tavrin
from tavrin_cli.database import database_in
from tavrin_cli.errors import CacheToolError
from tavrin_cli.spin_lists import canonical_spec

# How many tasks each worker has outstanding: one it builds and one waiting for it, so that no
# worker waits for the main process, and few finished rows wait in memory to be stored.
TASKS_PER_WORKER = 2


@dataclass(frozen=True)
class Task:
    bases: tuple[tuple[int, ...], ...]  # spin lists
    scratch: str  # where to make scratch caches, if the worker's machine has it


@dataclass
class Built:
    """The bases of a task as the library stored them: the rows themselves (key: data), or the
    directory of the scratch cache that holds them; and what went wrong with any."""
    task: Task
    rows: dict[bytes, bytes] = field(default_factory=dict)
    scratch: str | None = None
    problems: dict[tuple[int, ...], str] = field(default_factory=dict)


def scratch_root() -> str | None:
    """Scratch caches go to memory where the system offers a memory file system: their bases
    pass through once, and they are removed as soon as the rows are read back."""
    shared_memory = "/dev/shm"
    return shared_memory if os.access(shared_memory, os.W_OK | os.X_OK) else None


@contextlib.contextmanager
def interrupts_held() -> Iterator[None]:
    """Processes started meanwhile ignore Ctrl-C from their first instruction (an ignored signal
    stays ignored across exec): the main process stops them itself. A Ctrl-C that comes
    meanwhile is held, and reaches this process when the block ends (but in the instant
    multiprocessing starts its resource tracker, which unblocks the signal)."""
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
    handler = signal.signal(signal.SIGINT, signal.SIG_IGN)
    try:
        yield
    finally:
        signal.signal(signal.SIGINT, handler)
        signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGINT})


def start_worker() -> None:
    # Ctrl-C reaches the whole process group: the main process stops the workers itself. Each
    # basis is built once: keeping decoded copies would only cost memory.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    os.environ["TAVRIN_BASIS_STORE_BYTES"] = "0"


def build(task: Task) -> Built:
    """In a worker: builds the task's bases into a scratch cache. On the main process's machine
    (where the task's scratch directory is) the cache is left there for the main process to
    read; elsewhere its rows are read back and sent."""
    built = Built(task)
    local = os.path.isdir(task.scratch)
    scratch = Path(tempfile.mkdtemp(prefix="task-", dir=task.scratch if local else scratch_root()))
    try:
        os.environ["TAVRIN_CACHE_PATH"] = str(scratch)
        for spins in task.bases:
            with warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always")
                try:
                    tavrin.canonical_basis(canonical_spec(spins))
                    failure = []
                except (RuntimeError, MemoryError, ValueError) as error:
                    failure = [str(error) or type(error).__name__]
            if caught or failure:
                built.problems[spins] = "; ".join([str(w.message) for w in caught] + failure)
        if local:
            built.scratch = str(scratch)
        else:
            built.rows = scratch_rows(scratch)
    finally:
        if not local:
            shutil.rmtree(scratch, ignore_errors=True)
    return built


def scratch_rows(scratch: Path) -> dict[bytes, bytes]:
    database = database_in(scratch)
    if not database.exists():
        return {}
    with closing(sqlite3.connect(f"{database.as_uri()}?mode=ro", uri=True)) as connection:
        return dict(connection.execute("SELECT spins, data FROM cgbasis"))


def rebuilt_rows(built: Built) -> dict[bytes, bytes]:
    """The rows a worker built, wherever it left them; a scratch cache is removed once read."""
    if built.scratch is None:
        return built.rows
    try:
        return scratch_rows(Path(built.scratch))
    finally:
        shutil.rmtree(built.scratch, ignore_errors=True)


def serve(channel: Connection) -> None:
    """A local worker process: builds each task received and answers with its Built, until None."""
    start_worker()
    while (task := channel.recv()) is not None:
        channel.send(build_reporting_failure(task))


def build_reporting_failure(task: Task) -> Built:
    try:
        return build(task)
    except Exception as error:  # reported as the task's, like any basis that fails
        return Built(task, problems={spins: f"the worker failed: {error!r}" for spins in task.bases})


def worker_died(exit_code: int | None) -> CacheToolError:
    return CacheToolError(
        f"a worker process ended unexpectedly (exit status {exit_code}: killed, perhaps for "
        "lack of memory; try fewer --jobs)")


@dataclass
class _Worker:
    process: Any  # a multiprocessing process
    channel: Connection
    tasks: collections.deque[Task] = field(default_factory=collections.deque)


class LocalWorkers:
    """jobs worker processes on this machine, each fed through a pipe of its own. Stopping them
    kills them: nothing in this process waits for them afterwards."""

    def __init__(self, jobs: int) -> None:
        context = multiprocessing.get_context("spawn")
        self.count = jobs
        self.where = "on this machine"
        self._workers: list[_Worker] = []
        with interrupts_held():
            for _ in range(jobs):
                ours, theirs = context.Pipe()
                process = context.Process(target=serve, args=(theirs,), daemon=True,
                                          name="tavrin-worker")
                process.start()
                theirs.close()
                self._workers.append(_Worker(process, ours))

    def run(self, tasks: Iterable[Task], handle: Callable[[Built], None]) -> None:
        """Builds every task, handing each result to handle (in this thread) as it comes in."""
        queued = iter(tasks)
        while True:
            for worker in self._workers:
                while len(worker.tasks) < TASKS_PER_WORKER and \
                        (task := next(queued, None)) is not None:
                    try:
                        worker.channel.send(task)
                    except OSError:  # not a broken pipe of this command's output
                        worker.process.join()
                        raise worker_died(worker.process.exitcode) from None
                    worker.tasks.append(task)
            busy = [worker for worker in self._workers if worker.tasks]
            if not busy:
                return
            ready = set(wait_for([w.channel for w in busy] + [w.process.sentinel for w in busy]))
            for worker in busy:
                if worker.channel in ready or worker.process.sentinel in ready:
                    handle(self._receive(worker))

    def _receive(self, worker: _Worker) -> Built:
        try:
            built: Built = worker.channel.recv()
        except (EOFError, OSError):
            worker.process.join()
            raise worker_died(worker.process.exitcode) from None
        worker.tasks.popleft()
        return built

    def close(self) -> None:
        for worker in self._workers:
            worker.channel.send(None)
        for worker in self._workers:
            worker.process.join()

    def stop(self) -> None:
        """Ends the workers at once, dropping their tasks."""
        for worker in self._workers:
            worker.process.kill()
        for worker in self._workers:
            worker.process.join()

    def end_interrupted(self, status: int) -> None:
        """Nothing is left to end once the workers are stopped."""


class MpiWorkers:
    """The workers of an MPI pool: those mpiexec started beside this process under
    `python -m mpi4py.futures`, or else jobs of them spawned by MPI."""

    def __init__(self, jobs: int) -> None:
        try:
            from mpi4py import MPI
            from mpi4py.futures import MPIPoolExecutor
        except ImportError as error:
            raise CacheToolError(
                f"--mpi needs mpi4py ({error}): pip install mpi4py, with an MPI implementation "
                "(the cluster's, or e.g. pip install mpich)") from None
        self._world = MPI.COMM_WORLD
        self._executor = MPIPoolExecutor(max_workers=jobs, initializer=start_worker)
        self.count: int = self._executor.num_workers
        self.where = "of an MPI pool"
        if self.count < 1:
            raise CacheToolError("the MPI pool has no workers")

    def run(self, tasks: Iterable[Task], handle: Callable[[Built], None]) -> None:
        """Builds every task, handing each result to handle (in this thread) as it comes in."""
        queued = iter(tasks)
        pending: dict[Future[Built], Task] = {}
        while True:
            while len(pending) < TASKS_PER_WORKER * self.count and \
                    (task := next(queued, None)) is not None:
                pending[self._executor.submit(build_reporting_failure, task)] = task
            if not pending:
                return
            done, _ = futures_wait(pending, return_when=FIRST_COMPLETED)
            for future in done:
                del pending[future]
                try:
                    handle(future.result())
                except BrokenExecutor as error:
                    raise CacheToolError(f"the MPI pool broke down: {error}") from None

    def close(self) -> None:
        self._executor.shutdown()

    def stop(self) -> None:
        self._executor.shutdown(wait=False, cancel_futures=True)

    def end_interrupted(self, status: int) -> None:
        """Ends every process of the pool, this one included, with status: a worker in the
        middle of a build ends only that way."""
        self._world.Abort(status)


Workers = LocalWorkers | MpiWorkers


def start_workers(jobs: int, mpi: bool) -> Workers:
    return MpiWorkers(jobs) if mpi else LocalWorkers(jobs)
