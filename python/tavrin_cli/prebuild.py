"""tavrin cache prebuild: builds the canonical bases a run will need before it starts, in
parallel worker processes. Bases are built in tasks (a group of small bases, or one large one),
each into a scratch cache of its own; the main process merges every finished task into the
cache in one transaction, so an interrupted pre-build keeps what it finished and workers never
wait for each other's writes."""

import argparse
import multiprocessing
import os
import shutil
import signal
import sqlite3
import sys
import tempfile
import warnings
from contextlib import closing
from pathlib import Path

from tqdm import tqdm

import tavrin
from tavrin_cli.database import (CACHE_FILE_NAME, current_database, merge_into, open_read_only,
                                 open_writable, size_text, spin_key, spins_text)
from tavrin_cli.spin_lists import PlannedBasis, canonical_spec, plan

# SQLite stores no value longer than this (its default length limit); the array header adds a
# little to the basis itself.
LARGEST_STORABLE = 1_000_000_000 - 1024
# A task builds at most this many bases, of at most this many bytes together (unless one alone
# is larger).
CHUNK_COUNT = 64
CHUNK_BYTES = 64 * 1024 * 1024


def cached_keys(database: Path) -> set[bytes]:
    if not database.exists():
        return set()
    with closing(open_read_only(database)) as connection:
        return {row[0] for row in connection.execute("SELECT spins FROM cgbasis")}


def start_worker() -> None:
    # Ctrl-C reaches the whole process group: the main process stops the workers itself.
    signal.signal(signal.SIGINT, signal.SIG_IGN)


def build_in_worker(task: tuple[str, list[tuple[int, ...]]]
                    ) -> tuple[str, list[tuple[int, ...]], dict[tuple[int, ...], str]]:
    """Builds a chunk of bases into a scratch cache of its own (a directory). Returns the
    directory, the chunk, and what went wrong with each basis that went wrong."""
    directory, chunk = task
    os.environ["TAVRIN_CACHE_PATH"] = directory
    problems = {}
    for spins in chunk:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            try:
                tavrin.canonical_basis(canonical_spec(spins))
            except (RuntimeError, MemoryError) as error:
                caught.append(warnings.WarningMessage(error, type(error), "", 0))
        if caught:
            problems[spins] = "; ".join(str(w.message) for w in caught)
    return directory, chunk, problems


def chunks(todo: list[PlannedBasis]) -> list[list[PlannedBasis]]:
    """Small bases travel in groups, so that the cost of a task and of merging it into the cache
    (a transaction, with its disk flushes) is shared by many; large bases go alone."""
    groups: list[list[PlannedBasis]] = []
    for item in todo:  # largest first
        if groups and len(groups[-1]) < CHUNK_COUNT and \
                sum(i.size for i in groups[-1]) + item.size <= CHUNK_BYTES:
            groups[-1].append(item)
        else:
            groups.append([item])
    return groups


def scratch_root() -> str | None:
    """Each task's scratch cache goes to memory where the system offers a memory file system: its
    bases pass through it once, and it is removed as soon as they are merged."""
    shared_memory = "/dev/shm"
    return shared_memory if os.access(shared_memory, os.W_OK | os.X_OK) else None


def describe(todo: list[PlannedBasis], cached: int, too_large: list[PlannedBasis],
             database: Path, jobs: int) -> None:
    total = sum(item.size for item in todo)
    print(f"cache:    {database.resolve()}")
    print(f"to build: {len(todo)} bases, about {size_text(total)} "
          f"({cached} already cached)")
    if todo:
        largest = max(todo, key=lambda item: item.size)
        print(f"largest:  spins (2j) {spins_text(largest.spins)}, {size_text(largest.size)}; "
              f"{jobs} workers need about {size_text(3 * jobs * largest.size)} of memory")
    for item in too_large:
        print(f"skipped:  spins (2j) {spins_text(item.spins)}: {size_text(item.size)} "
              f"is more than one cache row can hold")


def run(args: argparse.Namespace) -> int:
    database = current_database()
    planned = plan(args.spins or [], args.edges or [], args.lists)
    if not planned:
        raise argparse.ArgumentTypeError(
            "no spin list to build: give --spins with --edges, or --list")
    present = cached_keys(database)
    missing = [item for item in planned if spin_key(item.spins) not in present]
    too_large = [item for item in missing if item.size > LARGEST_STORABLE]
    todo = sorted((item for item in missing if item.size <= LARGEST_STORABLE),
                  key=lambda item: item.size, reverse=True)  # the largest start first
    describe(todo, len(planned) - len(missing), too_large, database, args.jobs)
    if args.dry_run or not todo:
        return 0
    failures = build_all(todo, database, args.jobs)
    for spins, problem in failures:
        print(f"failed:   spins (2j) {spins_text(spins)}: {problem}", file=sys.stderr)
    print(f"built {len(todo) - len(failures)} of {len(todo)} bases into {database.resolve()}")
    return 1 if failures else 0


def build_all(todo: list[PlannedBasis], database: Path, jobs: int) -> list[tuple[tuple[int, ...], str]]:
    """Builds every basis of todo; returns the spins that did not end up in the cache, each
    with what went wrong."""
    sizes = {item.spins: item.size for item in todo}
    failures = []
    done = 0
    context = multiprocessing.get_context("spawn")
    with (tempfile.TemporaryDirectory(prefix="tavrin-prebuild-", dir=scratch_root()) as scratch,
          closing(open_writable(database)) as target,
          context.Pool(jobs, initializer=start_worker) as pool,
          tqdm(total=sum(sizes.values()), unit="B", unit_scale=True,
               unit_divisor=1024, desc="building", disable=None) as progress):
        try:
            tasks = [(os.path.join(scratch, f"task-{number}"), [item.spins for item in task])
                     for number, task in enumerate(chunks(todo))]
            for directory, built, problems in pool.imap_unordered(build_in_worker, tasks):
                failures += merge_built(target, built, Path(directory), problems)
                shutil.rmtree(directory, ignore_errors=True)
                done += len(built)
                progress.update(sum(sizes[spins] for spins in built))
        except KeyboardInterrupt:
            pool.terminate()
            progress.close()
            print(f"interrupted: {done} of {len(todo)} bases finished and kept", file=sys.stderr)
            raise SystemExit(130) from None
    return failures


def merge_built(target: sqlite3.Connection, built: list[tuple[int, ...]], directory: Path,
                problems: dict[tuple[int, ...], str]) -> list[tuple[tuple[int, ...], str]]:
    """Copies one task's bases into the cache; returns those that are not there, with why."""
    keys = [spin_key(spins) for spins in built]
    conflicts: list[tuple[int, ...]] = []
    if (directory / CACHE_FILE_NAME).exists():
        _, _, conflicts = merge_into(target, directory / CACHE_FILE_NAME, keys)
    stored = {row[0] for row in target.execute(
        f"SELECT spins FROM cgbasis WHERE spins IN ({', '.join('?' * len(keys))})", keys)}
    failures = [(spins, "differs from the basis already in the cache, which was kept")
                for spins in conflicts]
    failures += [(spins, problems.get(spins, "not stored"))
                 for spins, key in zip(built, keys) if key not in stored]
    return failures
