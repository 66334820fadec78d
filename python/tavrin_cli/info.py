"""tavrin cache info: where the cache is, how it is journaled, how many bases it holds, its size
and its largest entries."""

import argparse
from contextlib import closing
from pathlib import Path

from tavrin_cli.database import open_read_only, size_text
from tavrin_cli.storing import row_name


def files_size(database: Path) -> int:
    """The database with its write-ahead log, if there is one."""
    files = [database, database.with_name(database.name + "-wal")]
    return sum(f.stat().st_size for f in files if f.exists())


def run(args: argparse.Namespace) -> int:
    database: Path = args.database
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
        names = [row_name(key) for key, _ in largest]
        width = max(map(len, names))
        for name, (_, size) in zip(names, largest):
            print(f"  {name:<{width}}  {size_text(size or 0):>10}")
    return 0
