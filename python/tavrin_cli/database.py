"""The cache database as the tool sees it: one SQLite file, table cgbasis (spins BLOB primary
key, data BLOB), the key being the 2j of every edge as 4-byte little-endian integers."""

import sqlite3
import struct
from collections.abc import Sequence
from pathlib import Path

import tavrin

CACHE_FILE_NAME = "cgbasis.db"
TABLE_STATEMENT = (
    "CREATE TABLE IF NOT EXISTS cgbasis (\n"
    "            spins BLOB PRIMARY KEY,\n"
    "            data BLOB NOT NULL\n"
    "        )"
)
# The tool waits longer than the library for a database another process is writing: it has
# nothing else to do meanwhile, and large bases take seconds to write.
BUSY_TIMEOUT_SECONDS = 120.0


class CacheToolError(Exception):
    """A failure the tool reports in one line before it exits with status 1."""


def current_database() -> Path:
    """The database the library uses now, by its own rules (TAVRIN_CACHE_PATH, default .tavrin/)."""
    return Path(tavrin._cache_database_path())


def database_at(path: Path) -> Path:
    """A cache directory stands for the database file in it."""
    return path / CACHE_FILE_NAME if path.is_dir() else path


def spin_key(spins: tuple[int, ...]) -> bytes:
    return struct.pack(f"<{len(spins)}i", *spins)


def spins_of_key(key: bytes) -> tuple[int, ...]:
    if len(key) % 4:
        raise CacheToolError(f"a key of {len(key)} bytes is not a list of spins")
    return struct.unpack(f"<{len(key) // 4}i", key)


def spins_text(spins: tuple[int, ...]) -> str:
    return ",".join(map(str, spins))


def size_text(size: float) -> str:
    for unit in ("B", "KiB", "MiB", "GiB"):
        if size < 1024 or unit == "GiB":
            return f"{size:.0f} {unit}" if unit == "B" else f"{size:.1f} {unit}"
        size /= 1024
    raise AssertionError("unreachable")


def _check_table(connection: sqlite3.Connection, path: Path) -> None:
    try:
        columns = [row[1] for row in connection.execute("PRAGMA table_info(cgbasis)")]
    except sqlite3.DatabaseError as error:
        raise CacheToolError(f"{path} is not a tavrin cache: {error}") from None
    if columns != ["spins", "data"]:
        raise CacheToolError(f"{path} is not a tavrin cache: it has no table cgbasis (spins, data)")


def open_read_only(path: Path) -> sqlite3.Connection:
    """An existing cache database, opened for reading only."""
    if not path.is_file():
        raise CacheToolError(f"no cache database at {path}")
    connection = sqlite3.connect(f"{path.resolve().as_uri()}?mode=ro", uri=True,
                                 timeout=BUSY_TIMEOUT_SECONDS)
    _check_table(connection, path)
    return connection


def open_writable(path: Path) -> sqlite3.Connection:
    """A cache database opened for writing, created with its directory if need be. Statements
    run in autocommit mode unless a transaction is begun explicitly."""
    try:
        path.parent.mkdir(parents=True, exist_ok=True)
        connection = sqlite3.connect(path.resolve().as_uri(), uri=True,
                                     timeout=BUSY_TIMEOUT_SECONDS, isolation_level=None)
        connection.execute(TABLE_STATEMENT)
    except (OSError, sqlite3.Error) as error:
        raise CacheToolError(f"cannot open {path} for writing: {error}") from None
    _check_table(connection, path)
    return connection


def merge_into(target: sqlite3.Connection, source: Path,
               keys: Sequence[bytes] | None = None) -> tuple[int, int, list[tuple[int, ...]]]:
    """Copies the rows of source (only those with the given keys, if any are given) that target
    lacks, in one transaction. A row whose key target already has is never overwritten: if the
    two differ in any bit, its spins are listed as a conflict. Returns (rows added, rows already
    present, conflicts)."""
    open_read_only(source).close()
    chosen = "1" if keys is None else f"s.spins IN ({', '.join('?' * len(keys))})"
    parameters = tuple(keys or ())
    target.execute("ATTACH DATABASE ? AS source", (f"{source.resolve().as_uri()}?mode=ro",))
    try:
        target.execute("BEGIN IMMEDIATE")
        try:
            conflicts = [spins_of_key(row[0]) for row in target.execute(
                "SELECT s.spins FROM source.cgbasis AS s JOIN main.cgbasis AS t "
                f"ON s.spins = t.spins WHERE s.data IS NOT t.data AND {chosen}", parameters)]
            (present,) = target.execute(
                "SELECT count(*) FROM source.cgbasis AS s JOIN main.cgbasis AS t "
                f"ON s.spins = t.spins WHERE {chosen}", parameters).fetchone()
            before = target.total_changes
            target.execute("INSERT OR IGNORE INTO main.cgbasis (spins, data) "
                           f"SELECT s.spins, s.data FROM source.cgbasis AS s WHERE {chosen}",
                           parameters)
            added = target.total_changes - before
            target.execute("COMMIT")
        except BaseException:
            target.execute("ROLLBACK")
            raise
    finally:
        target.execute("DETACH DATABASE source")
    return added, present, conflicts
