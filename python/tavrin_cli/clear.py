"""tavrin cache clear: removes every basis from the cache. Safe at any time: bases are rebuilt
when next needed, and processes using the cache meanwhile simply miss. A file in the cache's
place that is not an SQLite database, or a damaged one, holds nothing the library can read:
clear removes it (the library starts a new cache there). A sound SQLite database of something
else is left alone."""

import argparse
import sqlite3
from contextlib import closing
from pathlib import Path

from tavrin_cli.database import NotACache, is_damage, open_writable, remove_database, size_text
from tavrin_cli.errors import CacheToolError


def run(args: argparse.Namespace) -> int:
    database: Path = args.database
    if not database.exists():
        print(f"nothing to clear: no cache file at {database.resolve()}")
        return 0
    try:
        rows, stored = empty(database)
    except NotACache as error:
        if not error.damaged:
            raise CacheToolError(
                f"{error}; left as it is: if it is not needed, delete it (rm {database}), or "
                "give the cache another place (TAVRIN_CACHE_PATH or --cache-dir)") from None
        remove_database(database)
        print(f"removed {database.resolve()}: it was not a cache database ({error.reason}); "
              "the next basis built starts a new cache")
        return 0
    print(f"removed {rows} bases ({size_text(stored)}) from {database.resolve()}")
    return 0


def empty(database: Path) -> tuple[int, int]:
    """Deletes every row; returns how many there were and their bytes."""
    with closing(open_writable(database)) as connection:
        try:
            rows, stored = connection.execute(
                "SELECT count(*), coalesce(sum(length(data)), 0) FROM cgbasis").fetchone()
            connection.execute("DELETE FROM cgbasis")
            connection.execute("VACUUM")  # gives the space back to the file system
        except sqlite3.DatabaseError as error:
            if not is_damage(error):
                raise
            raise NotACache(database, str(error), damaged=True) from None
    return rows, stored
