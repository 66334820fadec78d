"""tavrin cache info: where the cache is, how it is journaled, how many bases it holds, its size
and its largest entries."""

import argparse
from contextlib import closing
from pathlib import Path

from tavrin_cli.database import current_database, open_read_only, size_text, spins_of_key, spins_text


def files_size(database: Path) -> int:
    """The database with its write-ahead log, if there is one."""
    files = [database, database.with_name(database.name + "-wal")]
    return sum(f.stat().st_size for f in files if f.exists())


def run(args: argparse.Namespace) -> int:
    database = current_database()
    print(f"path:         {database.resolve()}")
    if not database.exists():
        print("no cache file yet: the first basis built creates it")
        return 0
    with closing(open_read_only(database)) as connection:
        (journal_mode,) = connection.execute("PRAGMA journal_mode").fetchone()
        rows, stored = connection.execute(
            "SELECT count(*), coalesce(sum(length(data)), 0) FROM cgbasis").fetchone()
        largest = connection.execute(
            "SELECT spins, length(data) FROM cgbasis ORDER BY length(data) DESC, spins LIMIT ?",
            (args.largest,)).fetchall()
    print(f"journal mode: {journal_mode}")
    print(f"bases:        {rows}")
    print(f"size:         {size_text(files_size(database))} on disk, {size_text(stored)} of bases")
    if largest:
        print(f"largest {len(largest)}:")
        width = max(len(spins_text(spins_of_key(key))) for key, _ in largest)
        for key, size in largest:
            print(f"  spins (2j) {spins_text(spins_of_key(key)):<{width}}  {size_text(size):>10}")
    return 0
