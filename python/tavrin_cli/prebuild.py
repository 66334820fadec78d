"""tavrin cache prebuild: builds the canonical bases a run will need before it starts, in
parallel worker processes. Each worker builds into a scratch cache of its own; every finished
basis is merged into the cache at once, so an interrupted pre-build keeps what it finished and
workers never wait for each other's writes."""

import argparse
import multiprocessing
import os
import signal
import sqlite3
import sys
import tempfile
import warnings
from contextlib import closing
from pathlib import Path

from tqdm import tqdm

import tavrin
from tavrin_cli.database import (current_database, merge_into, open_read_only, open_writable,
                                 size_text, spin_key, spins_text)
from tavrin_cli.spin_lists import PlannedBasis, canonical_spec, plan

# SQLite stores no value longer than this (its default length limit); the array header adds a
# little to the basis itself.
LARGEST_STORABLE = 1_000_000_000 - 1024


def cached_keys(database: Path) -> set[bytes]:
    if not database.exists():
        return set()
    with closing(open_read_only(database)) as connection:
        return {row[0] for row in connection.execute("SELECT spins FROM cgbasis")}


def start_worker(scratch: str) -> None:
    # Ctrl-C reaches the whole process group: the main process stops the workers itself.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    os.environ["TAVRIN_CACHE_PATH"] = os.path.join(scratch, f"worker-{os.getpid()}")


def build_in_worker(spins: tuple[int, ...]) -> tuple[tuple[int, ...], str, list[str]]:
    """Builds one basis into the worker's scratch cache: (spins, scratch database, problems)."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            tavrin.canonical_basis(canonical_spec(spins))
        except (RuntimeError, MemoryError) as error:
            return spins, "", [str(error)]
    return spins, tavrin._cache_database_path(), [str(w.message) for w in caught]


def forget_in_scratch(scratch_database: str, key: bytes) -> None:
    """Keeps a worker's scratch cache small once its basis has been merged."""
    with closing(sqlite3.connect(scratch_database, timeout=120.0)) as connection:
        connection.execute("DELETE FROM cgbasis WHERE spins = ?", (key,))
        connection.commit()


def describe(todo: list[PlannedBasis], cached: int, too_large: list[PlannedBasis],
             database: Path, jobs: int) -> None:
    total = sum(item.size for item in todo)
    print(f"cache:    {database.resolve()}")
    print(f"to build: {len(todo)} bases, about {size_text(total)} "
          f"({cached} already cached)")
    if todo:
        largest = max(todo, key=lambda item: item.size)
        print(f"largest:  spins (2j) {spins_text(largest.spins)}, {size_text(largest.size)}; "
              f"{jobs} workers need up to {size_text(2 * jobs * largest.size)} of memory")
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
    with (tempfile.TemporaryDirectory(prefix="tavrin-prebuild-") as scratch,
          closing(open_writable(database)) as target,
          context.Pool(jobs, initializer=start_worker, initargs=(scratch,)) as pool,
          tqdm(total=sum(sizes.values()), unit="B", unit_scale=True, unit_divisor=1024,
               desc="building", disable=None) as progress):
        try:
            for spins, scratch_database, problems in pool.imap_unordered(
                    build_in_worker, [item.spins for item in todo]):
                problem = merge_built(target, spins, scratch_database, problems)
                if problem:
                    failures.append((spins, problem))
                done += 1
                progress.update(sizes[spins])
        except KeyboardInterrupt:
            pool.terminate()
            progress.close()
            print(f"interrupted: {done} of {len(todo)} bases finished and kept", file=sys.stderr)
            raise SystemExit(130) from None
    return failures


def merge_built(target: sqlite3.Connection, spins: tuple[int, ...], scratch_database: str,
                problems: list[str]) -> str:
    """Moves one worker's basis into the cache; returns what went wrong, or "" if it is there."""
    key = spin_key(spins)
    if scratch_database and Path(scratch_database).exists():
        _, _, conflicts = merge_into(target, Path(scratch_database), key)
        forget_in_scratch(scratch_database, key)
        if conflicts:
            return "differs from the basis already in the cache, which was kept"
    if target.execute("SELECT 1 FROM cgbasis WHERE spins = ?", (key,)).fetchone() is None:
        return "; ".join(problems) or "not stored"
    return ""
