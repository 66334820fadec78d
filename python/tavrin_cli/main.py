"""The `tavrin` command line: argument parsing and dispatch to the cache commands."""

import argparse
import os
import sqlite3
import sys
from collections.abc import Sequence
from pathlib import Path

import tavrin
from tavrin_cli import clear, info, merge, prebuild
from tavrin_cli.database import CacheToolError
from tavrin_cli.spin_lists import doubled_spins, edge_counts, spin_list


def positive(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"'{text}' is not a whole number") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"{value} is not at least 1")
    return value


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="tavrin", description="Tools for tavrin, the SU(2) recoupling library.")
    parser.add_argument("--version", action="version", version=f"tavrin {tavrin.__version__}")
    commands = parser.add_subparsers(title="commands", required=True, metavar="COMMAND")

    cache = commands.add_parser(
        "cache", help="look after the basis cache",
        description="Look after the basis cache: the SQLite file cgbasis.db in the directory "
                    "named by TAVRIN_CACHE_PATH (default: .tavrin/ under the current directory).")
    cache.add_argument("--cache-dir", type=Path, metavar="DIR",
                       help="the cache directory to work on (default: as the library finds it)")
    actions = cache.add_subparsers(title="cache commands", required=True, metavar="ACTION")

    shown = actions.add_parser(
        "info", help="path, journal mode, number of bases, size, largest entries",
        description="Show where the cache is, its journal mode, how many bases it holds, its "
                    "size and its largest entries.")
    shown.add_argument("--largest", type=positive, default=5, metavar="N",
                       help="how many of the largest entries to list (default: 5)")
    shown.set_defaults(run=info.run)

    cleared = actions.add_parser(
        "clear", help="remove every basis from the cache",
        description="Remove every basis from the cache. Safe at any time: bases are rebuilt "
                    "when next needed.")
    cleared.set_defaults(run=clear.run)

    built = actions.add_parser(
        "prebuild", help="build the bases a run will need, in parallel",
        description="Build the canonical bases of every spin list a run will need, in "
                    "parallel worker processes, and store them in the cache. Spin lists are "
                    "every ordering of the given spins on each given number of edges that "
                    "couples to total spin 0, plus the lists given with --list. The estimated "
                    "size (8 bytes x OM dimension x product of 2j + 1 per basis) is printed "
                    "before anything is built.",
        epilog="example: tavrin cache prebuild --spins 1-2 --edges 3-6 --jobs 8")
    built.add_argument("--spins", type=doubled_spins, metavar="2J",
                       help="doubled spins 2j to use: numbers and ranges, e.g. 1-4 or 0,2,4")
    built.add_argument("--edges", type=edge_counts, metavar="N",
                       help="numbers of edges, at least 2: e.g. 3-6 or 4")
    built.add_argument("--list", dest="lists", type=spin_list, action="append", default=[],
                       metavar="2J,2J,...", help="one spin list to build as well (repeatable)")
    built.add_argument("--jobs", type=positive, default=os.cpu_count() or 1, metavar="N",
                       help="number of worker processes (default: the number of CPUs)")
    built.add_argument("--dry-run", action="store_true",
                       help="only print what would be built and its estimated size")
    built.set_defaults(run=prebuild.run)

    merged = actions.add_parser(
        "merge", help="union caches from several machines into one",
        description="Copy into the cache every basis of the given caches that it lacks. Bases "
                    "present in both must agree bit for bit: one that differs is reported and "
                    "never overwritten (the exit status is then 1).")
    merged.add_argument("sources", nargs="+", metavar="SOURCE",
                        help="a cache directory or its cgbasis.db file")
    merged.add_argument("--into", type=Path, metavar="TARGET",
                        help="the cache directory or file to merge into (default: the cache)")
    merged.set_defaults(run=merge.run)

    for subparser in (shown, cleared, built, merged):
        subparser.set_defaults(parser=subparser)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    if args.cache_dir is not None:
        os.environ["TAVRIN_CACHE_PATH"] = str(args.cache_dir)
    try:
        return int(args.run(args))
    except argparse.ArgumentTypeError as error:
        args.parser.error(str(error))
    except (CacheToolError, sqlite3.Error, OSError) as error:
        print(f"{args.parser.prog}: error: {error}", file=sys.stderr)
        return 1
    return 2  # not reached: parser.error exits
