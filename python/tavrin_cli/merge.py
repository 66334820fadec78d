"""tavrin cache merge: unions caches built on several machines into one. Every row is checked
before it is copied; rows that fail are reported and left out. Rows with the same key must agree
bit for bit; a row that differs is reported and never overwritten."""

import argparse
import os
import sys
from contextlib import closing
from pathlib import Path

from tavrin_cli.database import database_at, open_read_only, open_writable
from tavrin_cli.errors import CacheToolError
from tavrin_cli.storing import merge_into, row_name


def run(args: argparse.Namespace) -> int:
    target = database_at(args.into) if args.into else args.database
    sources = [database_at(Path(source)) for source in args.sources]
    for source in sources:
        open_read_only(source).close()
        if target.exists() and os.path.samefile(source, target):
            raise CacheToolError(f"{source} is the cache being merged into")
    faults = 0
    with closing(open_writable(target)) as connection:
        for source in sources:
            report = merge_into(connection, source)
            refused = f", {len(report.refused)} refused" if report.refused else ""
            present = len(report.present) + len(report.conflicts)
            print(f"{source}: {len(report.added)} bases added, {present} already there{refused}")
            for key, why in report.refused:
                print(f"refused: {row_name(key)} in {source}: {why}", file=sys.stderr)
            for key in report.conflicts:
                print(f"conflict: the bases for {row_name(key)} differ between {source} and {target}; "
                      f"kept the one in {target}", file=sys.stderr)
            faults += len(report.refused) + len(report.conflicts)
    print(f"merged into {target.resolve()}")
    return 1 if faults else 0
