"""tavrin cache merge: unions caches built on several machines into one. Rows with the same
key must agree bit for bit; a row that differs is reported and never overwritten."""

import argparse
import os
import sys
from contextlib import closing
from pathlib import Path

from tavrin_cli.database import (CacheToolError, current_database, database_at, merge_into,
                                 open_read_only, open_writable, spins_text)


def run(args: argparse.Namespace) -> int:
    target = database_at(args.into) if args.into else current_database()
    sources = [database_at(Path(source)) for source in args.sources]
    for source in sources:
        open_read_only(source).close()
        if target.exists() and os.path.samefile(source, target):
            raise CacheToolError(f"{source} is the cache being merged into")
    conflicts = []
    with closing(open_writable(target)) as connection:
        for source in sources:
            added, present, clashes = merge_into(connection, source)
            print(f"{source}: {added} bases added, {present} already there")
            conflicts += [(spins, source) for spins in clashes]
    for spins, source in conflicts:
        print(f"conflict: the bases for spins (2j) {spins_text(spins)} differ between {source} "
              f"and {target}; kept the one in {target}", file=sys.stderr)
    print(f"merged into {target.resolve()}")
    return 1 if conflicts else 0
