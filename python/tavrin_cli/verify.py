"""tavrin cache verify: checks that every row of a cache is one the library reads as the basis
of its spins, and rebuilds a sample of them to compare with what is stored, bit for bit."""

import argparse
import io
import random
import shutil
import sqlite3
import sys
import tempfile
from contextlib import closing

import numpy as np

from tavrin_cli.database import open_read_only, spin_key, spins_text
from tavrin_cli.rows import RowFault, check_row
from tavrin_cli.storing import row_name
from tavrin_cli.workers import (Built, Task, Workers, rebuilt_rows, scratch_root,
                                start_workers)

INTERRUPTED = 130


def difference(stored: bytes, rebuilt: bytes) -> str | None:
    """How the stored basis differs from the rebuilt one, or None when their numbers agree in
    every bit (a row written by another program may encode the same numbers differently)."""
    if stored == rebuilt:
        return None
    a, b = (np.load(io.BytesIO(blob), allow_pickle=False) for blob in (stored, rebuilt))
    if a.shape != b.shape:
        return f"its shape is {a.shape}, the basis's {b.shape}"
    a, b = (np.ascontiguousarray(x, dtype="<f8") for x in (a, b))
    differs = a.view("<u8") != b.view("<u8")
    if not differs.any():
        return None
    largest = float(np.max(np.abs(a - b), initial=0.0, where=np.isfinite(a - b)))
    return f"{int(differs.sum())} of {a.size} numbers differ (by up to {largest:.3g})"


def run(args: argparse.Namespace) -> int:
    with closing(open_read_only(args.database)) as connection:
        rows = connection.execute(
            "SELECT rowid, spins, typeof(data), length(data) FROM cgbasis ORDER BY spins"
        ).fetchall()
        sound: list[tuple[int, ...]] = []
        faults = 0
        for rowid, key, kind, length in rows:
            try:
                if kind != "blob":
                    raise RowFault(f"its data are {kind}, not an array")
                with connection.blobopen("cgbasis", "data", rowid, readonly=True) as data:
                    sound.append(check_row(key, data, length))
            except RowFault as fault:
                print(f"unreadable: {row_name(key)}: {fault}", file=sys.stderr)
                faults += 1
        seed = args.seed if args.seed is not None else random.SystemRandom().randrange(10**6)
        sample = sound if args.all else \
            sorted(random.Random(seed).sample(sound, min(args.sample, len(sound))))
        print(f"cache:    {args.database.resolve()}")
        print(f"rows:     {len(rows)}, {faults} unreadable")
        print(f"rebuild:  {len(sample)}" + ("" if args.all else f" (--seed {seed})"))
        if sample:
            workers = start_workers(min(args.jobs, len(sample)), args.mpi)
            faults += rebuild_and_compare(connection, sample, workers)
    print(f"verified: {len(sample)} rebuilt, {faults} faults")
    return 1 if faults else 0


def rebuild_and_compare(connection: sqlite3.Connection, sample: list[tuple[int, ...]],
                        workers: Workers) -> int:
    """Rebuilds the sample on the workers; returns how many differ from their rows."""
    mismatches = 0

    def compare(built: Built) -> None:
        nonlocal mismatches
        rebuilt = rebuilt_rows(built)
        for spins in built.task.bases:
            key = spin_key(spins)
            if key not in rebuilt:
                print(f"not rebuilt: spins (2j) {spins_text(spins)}: "
                      f"{built.problems.get(spins, 'not stored')}", file=sys.stderr)
                mismatches += 1
                continue
            (stored,) = connection.execute(
                "SELECT data FROM cgbasis WHERE spins = ?", (key,)).fetchone()
            how = difference(stored, rebuilt[key])
            if how is not None:
                print(f"mismatch: spins (2j) {spins_text(spins)}: {how}", file=sys.stderr)
                mismatches += 1

    with tempfile.TemporaryDirectory(prefix="tavrin-verify-", dir=scratch_root(),
                                     ignore_cleanup_errors=True) as scratch:
        try:
            workers.run((Task((spins,), scratch) for spins in sample), compare)
            workers.close()
        except KeyboardInterrupt:
            workers.stop()
            print("interrupted", file=sys.stderr)
            shutil.rmtree(scratch, ignore_errors=True)  # an MPI abort leaves no time for it
            workers.end_interrupted(INTERRUPTED)
            raise SystemExit(INTERRUPTED) from None
        except BaseException:
            workers.stop()
            raise
    return mismatches
