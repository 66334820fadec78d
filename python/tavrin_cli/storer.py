"""The process that writes a pre-build's bases into the cache. It takes finished tasks one at a
time and stores each in one transaction; it lives apart from the main process so that Ctrl-C
can end it at once, even inside a write of hundreds of megabytes that SQLite cannot cut short:
SQLite's transactions leave nothing of a store ended that way."""

import collections
import multiprocessing
import queue
import shutil
import signal
import sqlite3
import threading
from collections.abc import Callable
from contextlib import closing
from dataclasses import dataclass, field
from multiprocessing.connection import Connection
from pathlib import Path

from tavrin_cli.database import database_in, open_writable, spin_key
from tavrin_cli.errors import CacheToolError
from tavrin_cli.storing import CopyReport, merge_into, store_rows
from tavrin_cli.workers import Built, interrupts_held

Failure = tuple[tuple[int, ...], str]
# Finished rows that may wait in the main process for the storer: enough to keep the workers
# building while it writes a burst of them.
WAITING_BYTES = 256 * 1024 * 1024


@dataclass
class Stored:
    """What became of one task: how many of its bases are in the cache, and why the others are
    not."""
    bases: tuple[tuple[int, ...], ...]
    stored: int = 0
    failures: list[Failure] = field(default_factory=list)


def outcome(built: Built, report: CopyReport) -> Stored:
    result = Stored(built.task.bases)
    conflicts, refused = set(report.conflicts), dict(report.refused)
    stored = set(report.added) | set(report.present)
    for spins in built.task.bases:
        key = spin_key(spins)
        if key in conflicts:
            result.failures.append(
                (spins, "differs from the basis already in the cache, which was kept"))
        elif key in refused:
            result.failures.append((spins, f"the row built is refused: {refused[key]}"))
        elif key in stored:
            result.stored += 1
        else:
            result.failures.append((spins, built.problems.get(spins, "not stored")))
    return result


def store(connection: sqlite3.Connection, built: Built) -> CopyReport:
    if built.scratch is None:
        return store_rows(connection, built.rows)
    try:
        database = database_in(Path(built.scratch))
        return merge_into(connection, database) if database.exists() else CopyReport()
    finally:
        shutil.rmtree(built.scratch, ignore_errors=True)


def store_tasks(database: Path, tasks: Connection, answers: Connection) -> None:
    """In the storer process: stores each task received, answering with its Stored, until None
    comes; a failure that stops all storing is answered with its message."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # the main process ends this one itself
    try:
        with closing(open_writable(database)) as connection:
            while (built := tasks.recv()) is not None:
                answers.send(outcome(built, store(connection, built)))
    except Exception as error:
        answers.send(f"cannot store into {database}: {error}")
        return
    answers.send(None)


def size_of(message: Built | None) -> int:
    """The bytes of rows a task holds, in memory or in its scratch cache."""
    if message is None:
        return 0
    if message.scratch is None:
        return sum(map(len, message.rows.values()))
    return sum(file.stat().st_size for file in Path(message.scratch).iterdir())


class Storer:
    """The main process's end of the storer process. Tasks handed in go to the storer from a
    thread, so that this process goes on taking the workers' results while the storer writes.
    Past WAITING_BYTES of rows handed in and not yet stored (in memory or in scratch caches),
    handing in waits for the storer."""

    def __init__(self, database: Path, stored_task: Callable[[Stored], None]) -> None:
        self._stored_task = stored_task
        self.stored = 0
        self.failures: list[Failure] = []
        context = multiprocessing.get_context("spawn")
        their_tasks, self._tasks = context.Pipe(duplex=False)
        self._answers, their_answers = context.Pipe(duplex=False)
        self._process = context.Process(target=store_tasks,
                                        args=(database, their_tasks, their_answers),
                                        name="tavrin-storer", daemon=True)
        with interrupts_held():
            self._process.start()
        their_tasks.close()
        their_answers.close()
        self._outbox: queue.SimpleQueue[Built | None] = queue.SimpleQueue()
        self._sizes: collections.deque[int] = collections.deque()  # of the tasks not answered
        self._waiting = 0
        threading.Thread(target=self._send_all, name="tavrin-store-feeder", daemon=True).start()

    def put(self, built: Built) -> None:
        size = size_of(built)
        while self._sizes and self._waiting + size > WAITING_BYTES:
            self._take(self._receive())
        self._sizes.append(size)
        self._waiting += size
        self._outbox.put(built)
        while self._answers.poll():
            self._take(self._receive())

    def finish(self) -> list[Failure]:
        """Waits for every task handed in to be stored; returns the bases not stored, with why."""
        self._outbox.put(None)
        while (answer := self._receive()) is not None:
            self._take(answer)
        self._process.join()
        return self.failures

    def kill(self) -> None:
        """Ends the storer at once, with any store under way."""
        self._process.kill()
        self._process.join()

    def _send_all(self) -> None:
        while True:
            message = self._outbox.get()
            try:
                self._tasks.send(message)
            except OSError:  # the storer has ended; its answers say why
                return
            if message is None:
                return

    def _receive(self) -> Stored | str | None:
        try:
            answer: Stored | str | None = self._answers.recv()
        except EOFError:
            raise CacheToolError(f"the process storing into the cache ended unexpectedly "
                                 f"(exit status {self._process.exitcode})") from None
        return answer

    def _take(self, answer: Stored | str | None) -> None:
        if isinstance(answer, str):
            raise CacheToolError(answer)
        if answer is None:
            raise CacheToolError("the process storing into the cache stopped early")
        self._waiting -= self._sizes.popleft()
        self.stored += answer.stored
        self.failures += answer.failures
        self._stored_task(answer)
