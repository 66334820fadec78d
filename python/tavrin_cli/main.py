"""The `tavrin` command line: argument parsing, dispatch to the cache commands, and the one place
where failures become messages and exit statuses."""

import argparse
import os
import sqlite3
import sys
from collections.abc import Sequence
from pathlib import Path

import tavrin
from tavrin_cli import clear, info, merge, prebuild, verify
from tavrin_cli.arguments import doubled_spins, edge_counts, positive, shard, spin_list
from tavrin_cli.database import current_database, database_in
from tavrin_cli.errors import CacheToolError, RequestError

FAILED = 1
INTERRUPTED = 130  # 128 + SIGINT, as the shell reports a command ended by Ctrl-C
BROKEN_PIPE = 141  # 128 + SIGPIPE, as the shell reports a tool whose reader went away

SHARD_HELP = (
    "build only shard I of N of the request (I from 0 to N-1): every node given the same "
    "request and N agrees on the split, so N jobs with I = 0 .. N-1 build it all between them, "
    "each into its own cache; from a SLURM job array submitted with --array=0-(N-1): "
    "--shard $SLURM_ARRAY_TASK_ID/$SLURM_ARRAY_TASK_COUNT")
MPI_HELP = (
    "run the workers on an MPI pool (needs mpi4py): start the command as "
    "'mpiexec -n N python -m mpi4py.futures -m tavrin_cli cache prebuild --mpi ...' to use the "
    "N-1 processes mpiexec starts beside this one, on any node; started otherwise, MPI spawns "
    "--jobs workers")


def location_options() -> argparse.ArgumentParser:
    """--cache-dir, accepted both before and after the cache command's action."""
    options = argparse.ArgumentParser(add_help=False)
    options.add_argument("--cache-dir", type=Path, metavar="DIR", default=argparse.SUPPRESS,
                         help="the cache directory to work on (default: as the library finds "
                              "it, from TAVRIN_CACHE_PATH)")
    return options


def worker_options() -> argparse.ArgumentParser:
    options = argparse.ArgumentParser(add_help=False)
    options.add_argument("--jobs", type=positive, default=os.cpu_count() or 1, metavar="N",
                         help="number of worker processes (default: the number of CPUs)")
    options.add_argument("--mpi", action="store_true", help=MPI_HELP)
    return options


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="tavrin", description="Tools for tavrin, the SU(2) recoupling library.",
        epilog="exit status: 0 done, 1 failed (the messages say what), 2 bad arguments, "
               "130 interrupted, 141 the reader of the output went away")
    parser.add_argument("--version", action="version", version=f"tavrin {tavrin.__version__}")
    commands = parser.add_subparsers(title="commands", required=True, metavar="COMMAND")
    location, workers = location_options(), worker_options()

    cache = commands.add_parser(
        "cache", help="look after the basis cache", parents=[location],
        description="Look after the basis cache: the SQLite file cgbasis.db in the directory "
                    "named by TAVRIN_CACHE_PATH (default: .tavrin/ under the current directory).")
    actions = cache.add_subparsers(title="cache commands", required=True, metavar="ACTION")

    shown = actions.add_parser(
        "info", help="path, journal mode, number of bases, size, largest entries",
        parents=[location],
        description="Show where the cache is, its journal mode, how many bases it holds, its "
                    "size and its largest entries.")
    shown.add_argument("--largest", type=positive, default=5, metavar="N",
                       help="how many of the largest entries to list (default: 5)")
    shown.set_defaults(run=info.run)

    cleared = actions.add_parser(
        "clear", help="remove every basis from the cache", parents=[location],
        description="Remove every basis from the cache. Safe at any time: bases are rebuilt "
                    "when next needed. A file in the cache's place that is not a database, or "
                    "a damaged one, is removed; an SQLite database of something else is left "
                    "as it is (exit status 1).")
    cleared.set_defaults(run=clear.run)

    built = actions.add_parser(
        "prebuild", help="build the bases a run will need, in parallel",
        parents=[location, workers],
        description="Build the canonical bases of every spin list a run will need, in "
                    "parallel worker processes, and store them in the cache. Spin lists are "
                    "every ordering of the given spins on each given number of edges that "
                    "couples to total spin 0, plus the lists given with --list. The estimated "
                    "size (8 bytes x OM dimension x product of 2j + 1 per basis) is printed "
                    "before anything is built. Ctrl-C stops at once: every basis stored so far "
                    "stays, nothing is stored half-built.",
        epilog="example: tavrin cache prebuild --spins 1-2 --edges 3-6 --jobs 8")
    built.add_argument("--spins", type=doubled_spins, metavar="2J",
                       help="doubled spins 2j to use: numbers and ranges, e.g. 1-4 or 0,2,4")
    built.add_argument("--edges", type=edge_counts, metavar="N",
                       help="numbers of edges, at least 2: e.g. 3-6 or 4")
    built.add_argument("--list", dest="lists", type=spin_list, action="append", default=[],
                       metavar="2J,2J,...", help="one spin list to build as well (repeatable)")
    built.add_argument("--shard", type=shard, metavar="I/N", help=SHARD_HELP)
    built.add_argument("--dry-run", action="store_true",
                       help="only print what would be built and its estimated size")
    built.set_defaults(run=prebuild.run)

    merged = actions.add_parser(
        "merge", help="union caches from several machines into one", parents=[location],
        description="Copy into the cache every basis of the given caches that it lacks. Each "
                    "row is checked first: one whose data the library would not read as the "
                    "basis of its spins is reported and left out. Bases present in both must "
                    "agree bit for bit: one that differs is reported and never overwritten. "
                    "The exit status is 1 if any row was refused or differs.")
    merged.add_argument("sources", nargs="+", metavar="SOURCE",
                        help="a cache directory or its cgbasis.db file")
    merged.add_argument("--into", type=Path, metavar="TARGET",
                        help="the cache directory or file to merge into (default: the cache)")
    merged.set_defaults(run=merge.run)

    checked = actions.add_parser(
        "verify", help="check every row, and rebuild a sample bit for bit",
        parents=[location, workers],
        description="Check that every row is one the library reads as the basis of its spins, "
                    "and rebuild a random sample of them to compare with what is stored, bit "
                    "for bit. The exit status is 1 if any row is unreadable or differs.")
    checked.add_argument("--sample", type=positive, default=8, metavar="N",
                         help="how many rows to rebuild (default: 8)")
    checked.add_argument("--all", action="store_true", help="rebuild every row")
    checked.add_argument("--seed", type=int, metavar="S",
                         help="the seed that draws the sample (default: a new one, printed)")
    checked.set_defaults(run=verify.run)

    for subparser in (shown, cleared, built, merged, checked):
        subparser.set_defaults(parser=subparser)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    args = build_parser().parse_args(argv)
    parser: argparse.ArgumentParser = args.parser
    cache_dir = getattr(args, "cache_dir", None)
    args.database = current_database() if cache_dir is None else database_in(cache_dir)
    try:
        status = int(args.run(args))
        sys.stdout.flush()  # a reader that went away is noticed here, not at exit
        return status
    except BrokenPipeError:
        # Quiet, as Unix tools are; nothing more reaches the pipe, not even at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return BROKEN_PIPE
    except RequestError as error:
        parser.error(str(error))
    except (CacheToolError, sqlite3.Error, OSError) as error:
        print(f"{parser.prog}: error: {error}", file=sys.stderr)
        return FAILED
    except KeyboardInterrupt:
        print(f"{parser.prog}: interrupted", file=sys.stderr)
        return INTERRUPTED
