"""tavrin cache clear: removes every basis from the cache. Safe at any time: bases are rebuilt
when next needed, and processes using the cache meanwhile simply miss."""

import argparse
from contextlib import closing

from tavrin_cli.database import current_database, open_writable, size_text


def run(args: argparse.Namespace) -> int:
    database = current_database()
    if not database.exists():
        print(f"nothing to clear: no cache file at {database.resolve()}")
        return 0
    with closing(open_writable(database)) as connection:
        rows, stored = connection.execute(
            "SELECT count(*), coalesce(sum(length(data)), 0) FROM cgbasis").fetchone()
        connection.execute("DELETE FROM cgbasis")
        connection.execute("VACUUM")  # gives the space back to the file system
    print(f"removed {rows} bases ({size_text(stored)}) from {database.resolve()}")
    return 0
