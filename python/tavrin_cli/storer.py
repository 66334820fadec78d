"""The process that writes a pre-build's bases into the cache. It takes finished tasks one at a
time and stores each in one transaction; it lives apart from the main process so that Ctrl-C
can end it at once, even inside a write of hundreds of megabytes that SQLite cannot cut short:
SQLite's transactions leave nothing of a store ended that way."""

import multiprocessing
import signal
from collections.abc import Callable
from contextlib import closing
from dataclasses import dataclass, field
from multiprocessing.connection import Connection
from pathlib import Path

from tavrin_cli.database import open_writable, spin_key
from tavrin_cli.errors import CacheToolError
from tavrin_cli.storing import store_rows
from tavrin_cli.workers import Built, interrupts_held

Failure = tuple[tuple[int, ...], str]


@dataclass
class Stored:
    """What became of one task: how many of its bases are in the cache, and why the others are
    not."""
    bases: tuple[tuple[int, ...], ...]
    stored: int = 0
    failures: list[Failure] = field(default_factory=list)


def outcome(built: Built, added: set[bytes], conflicts: set[bytes],
            refused: dict[bytes, str]) -> Stored:
    result = Stored(built.task.bases)
    for spins in built.task.bases:
        key = spin_key(spins)
        if key in conflicts:
            result.failures.append(
                (spins, "differs from the basis already in the cache, which was kept"))
        elif key in refused:
            result.failures.append((spins, f"the row built is refused: {refused[key]}"))
        elif key not in built.rows:
            result.failures.append((spins, built.problems.get(spins, "not stored")))
        else:
            result.stored += 1
    return result


def store_tasks(database: Path, channel: Connection) -> None:
    """In the storer process: stores each task received, answering with its Stored, until None
    comes; a failure that stops all storing is answered with its message."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # the main process ends this one itself
    try:
        with closing(open_writable(database)) as connection:
            while (built := channel.recv()) is not None:
                report = store_rows(connection, built.rows)
                channel.send(outcome(built, set(report.added), set(report.conflicts),
                                     dict(report.refused)))
    except Exception as error:
        channel.send(f"cannot store into {database}: {error}")
        return
    channel.send(None)


class Storer:
    """The main process's end of the storer process."""

    def __init__(self, database: Path, stored_task: Callable[[Stored], None]) -> None:
        self._stored_task = stored_task
        self.stored = 0
        self.failures: list[Failure] = []
        context = multiprocessing.get_context("spawn")
        self._channel, theirs = context.Pipe()
        self._process = context.Process(target=store_tasks, args=(database, theirs),
                                        name="tavrin-storer", daemon=True)
        with interrupts_held():
            self._process.start()
        theirs.close()

    def put(self, built: Built) -> None:
        self._send(built)
        while self._channel.poll():
            self._take(self._receive())

    def finish(self) -> list[Failure]:
        """Waits for every task handed in to be stored; returns the bases not stored, with why."""
        self._send(None)
        while (answer := self._receive()) is not None:
            self._take(answer)
        self._process.join()
        return self.failures

    def _send(self, message: Built | None) -> None:
        try:
            self._channel.send(message)
        except OSError:  # the storer has ended: its last answer says why
            while True:
                self._take(self._receive())

    def kill(self) -> None:
        """Ends the storer at once, with any store under way."""
        self._process.kill()
        self._process.join()

    def _receive(self) -> "Stored | str | None":
        try:
            return self._channel.recv()
        except EOFError:
            raise CacheToolError(f"the process storing into the cache ended unexpectedly "
                                 f"(exit status {self._process.exitcode})") from None

    def _take(self, answer: "Stored | str | None") -> None:
        if isinstance(answer, str):
            raise CacheToolError(answer)
        if answer is None:
            raise CacheToolError("the process storing into the cache stopped early")
        self.stored += answer.stored
        self.failures += answer.failures
        self._stored_task(answer)
