"""tavrin cache prebuild: builds the canonical bases a run will need before it starts, on worker
processes of this machine or of an MPI pool, optionally one shard of the request only. Bases are
built in tasks (a group of small bases, or one large one); a storer process stores each finished
task into the cache in one transaction. Ctrl-C ends them all at once: what was stored stays,
and a store under way leaves nothing."""

import argparse
import shutil
import sys
import tempfile
from contextlib import closing
from pathlib import Path

from tqdm import tqdm

from tavrin_cli.database import open_read_only, open_writable, size_text, spin_key, spins_text
from tavrin_cli.errors import RequestError
from tavrin_cli.spin_lists import PlannedBasis, plan, shard_of
from tavrin_cli.storer import Failure, Storer
from tavrin_cli.workers import Task, Workers, scratch_root, start_workers

# SQLite stores no value longer than this (its default length limit); the array header adds a
# little to the basis itself.
LARGEST_STORABLE = 1_000_000_000 - 1024
# A task builds at most this many bases, of at most this many bytes together (unless one alone
# is larger).
CHUNK_COUNT = 64
CHUNK_BYTES = 64 * 1024 * 1024
INTERRUPTED = 130  # the shell's status for a command ended by SIGINT


def cached_keys(database: Path) -> set[bytes]:
    if not database.exists():
        return set()
    with closing(open_read_only(database)) as connection:
        return {row[0] for row in connection.execute("SELECT spins FROM cgbasis")}


def chunks(todo: list[PlannedBasis]) -> list[list[PlannedBasis]]:
    """Small bases travel in groups, so that the cost of a task and of storing it (a
    transaction, with its disk flushes) is shared by many; large bases go alone."""
    groups: list[list[PlannedBasis]] = []
    for item in todo:  # largest first
        if groups and len(groups[-1]) < CHUNK_COUNT and \
                sum(i.size for i in groups[-1]) + item.size <= CHUNK_BYTES:
            groups[-1].append(item)
        else:
            groups.append([item])
    return groups


def describe(todo: list[PlannedBasis], cached: int, too_large: list[PlannedBasis],
             database: Path) -> None:
    total = sum(item.size for item in todo)
    print(f"cache:    {database.resolve()}")
    print(f"to build: {len(todo)} bases, about {size_text(total)} ({cached} already cached)")
    if todo:
        largest = max(todo, key=lambda item: item.size)
        # A worker holds the basis, its row read back and the row sent, and its scratch cache
        # is in memory where the system has a memory file system.
        print(f"largest:  spins (2j) {spins_text(largest.spins)}, {size_text(largest.size)}; "
              f"each worker needs about {size_text(4 * largest.size)} of memory")
    for item in too_large:
        print(f"skipped:  spins (2j) {spins_text(item.spins)}: {size_text(item.size)} "
              f"is more than one cache row can hold")


def run(args: argparse.Namespace) -> int:
    database: Path = args.database
    planned = plan(args.spins or [], args.edges or [], args.lists)
    if not planned:
        raise RequestError("no spin list to build: give --spins with --edges, or --list")
    if args.shard is not None:
        index, count = args.shard
        request = len(planned)
        planned = shard_of(planned, index, count)
        print(f"shard:    {index}/{count}: {len(planned)} of the request's {request} bases")
    present = cached_keys(database)
    missing = [item for item in planned if spin_key(item.spins) not in present]
    too_large = [item for item in missing if item.size > LARGEST_STORABLE]
    todo = sorted((item for item in missing if item.size <= LARGEST_STORABLE),
                  key=lambda item: item.size, reverse=True)  # the largest start first
    describe(todo, len(planned) - len(missing), too_large, database)
    if args.dry_run or not todo:
        return 0
    open_writable(database).close()  # a cache that cannot be written fails before any build
    workers = start_workers(min(args.jobs, len(chunks(todo))), args.mpi)
    processes = "process" if workers.count == 1 else "processes"
    print(f"workers:  {workers.count} {processes} {workers.where}")
    failures = dict(build_all(todo, database, workers))
    stored = cached_keys(database)  # what the cache holds now is what counts
    missing = [item.spins for item in todo if spin_key(item.spins) not in stored]
    failures |= {spins: "not built" for spins in missing if spins not in failures}
    for spins, problem in failures.items():
        print(f"failed:   spins (2j) {spins_text(spins)}: {problem}", file=sys.stderr)
    print(f"built {len(todo) - len(missing)} of {len(todo)} bases into {database.resolve()}")
    return 1 if failures else 0


def build_all(todo: list[PlannedBasis], database: Path, workers: Workers) -> list[Failure]:
    """Builds every basis of todo; returns the spins that did not end up in the cache, each
    with what went wrong."""
    sizes = {item.spins: item.size for item in todo}
    with (tempfile.TemporaryDirectory(prefix="tavrin-prebuild-", dir=scratch_root(),
                                      ignore_cleanup_errors=True) as scratch,
          tqdm(total=sum(sizes.values()), unit="B", unit_scale=True,
               unit_divisor=1024, desc="building", disable=None) as progress):
        storer = Storer(database, lambda stored: progress.update(
            sum(sizes[spins] for spins in stored.bases)))
        tasks = (Task(tuple(item.spins for item in group), scratch) for group in chunks(todo))
        try:
            workers.run(tasks, storer.put)
            workers.close()
            return storer.finish()
        except KeyboardInterrupt:
            workers.stop()
            storer.kill()
            progress.close()
            print(f"interrupted: {storer.stored} of {len(todo)} bases stored", file=sys.stderr)
            shutil.rmtree(scratch, ignore_errors=True)  # an MPI abort leaves no time for it
            workers.end_interrupted(INTERRUPTED)
            raise SystemExit(INTERRUPTED) from None
        except BaseException:
            workers.stop()
            try:
                storer.finish()  # what the workers finished is kept
            except BaseException:
                storer.kill()
            raise
