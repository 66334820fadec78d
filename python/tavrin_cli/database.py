"""The cache database as the tool sees it: one SQLite file, table cgbasis (spins BLOB primary
key, data BLOB), the key being the 2j of every edge as 4-byte little-endian integers."""

import sqlite3
import struct
from pathlib import Path

import tavrin
from tavrin_cli.errors import CacheToolError

CACHE_FILE_NAME = "cgbasis.db"
# The statement the library creates its table with, so that both make the same table.
TABLE_STATEMENT: str = tavrin._cache_table_statement
# The tool waits longer than the library for a database another process is writing: it has
# nothing else to do meanwhile, and large bases take seconds to write.
BUSY_TIMEOUT_SECONDS = 120.0
# SQLite's companions of a database file: its write-ahead log, its index, its rollback journal.
COMPANION_SUFFIXES = ("-wal", "-shm", "-journal")


class NotACache(CacheToolError):
    """A file where a cache database should be that is not one. damaged: it is not an SQLite
    database at all, or a damaged one (rather than a sound database of something else)."""

    def __init__(self, path: Path, reason: str, damaged: bool) -> None:
        super().__init__(f"{path} is not a tavrin cache: {reason}")
        self.reason = reason
        self.damaged = damaged


def current_database() -> Path:
    """The database the library uses now, by its own rules (TAVRIN_CACHE_PATH, default .tavrin/)."""
    return Path(tavrin._cache_database_path())


def database_in(directory: Path) -> Path:
    """The database the library uses with TAVRIN_CACHE_PATH set to directory."""
    return directory / CACHE_FILE_NAME


def database_at(path: Path) -> Path:
    """The database a path names: a file that is there, or one named cgbasis.db; else a cache
    directory, which stands for the database file in it (made when first written)."""
    return path if path.is_file() or path.name == CACHE_FILE_NAME else database_in(path)


def spin_key(spins: tuple[int, ...]) -> bytes:
    return struct.pack(f"<{len(spins)}i", *spins)


def spins_text(spins: tuple[int, ...]) -> str:
    return ",".join(map(str, spins))


def size_text(size: float) -> str:
    for unit in ("B", "KiB", "MiB", "GiB"):
        if size < 1024 or unit == "GiB":
            return f"{size:.0f} {unit}" if unit == "B" else f"{size:.1f} {unit}"
        size /= 1024
    raise AssertionError("unreachable")


def is_damage(error: sqlite3.Error) -> bool:
    """SQLite found the file not to be a database, or a damaged one."""
    code = getattr(error, "sqlite_errorcode", 0) & 0xFF
    return code in (sqlite3.SQLITE_NOTADB, sqlite3.SQLITE_CORRUPT)


def _check_table(connection: sqlite3.Connection, path: Path, create: bool) -> None:
    """The table is there with the cache's columns; created first if asked for and the database
    holds no other table (a database of something else is never written to)."""
    try:
        tables = [row[0] for row in connection.execute(
            "SELECT name FROM sqlite_master WHERE type = 'table'")]
        if create and not tables:
            connection.execute(TABLE_STATEMENT)
            tables = ["cgbasis"]
        columns = [row[1] for row in connection.execute("PRAGMA table_info(cgbasis)")]
    except sqlite3.DatabaseError as error:
        if not is_damage(error):
            raise
        raise NotACache(path, str(error), damaged=True) from None
    if columns != ["spins", "data"]:
        found = f"tables {', '.join(tables)}" if tables else "no table"
        raise NotACache(path, f"an SQLite database with {found} but no table cgbasis (spins, "
                              "data)", damaged=False)


def _opened(path: Path, uri_query: str, create: bool) -> sqlite3.Connection:
    """In autocommit mode: statements run in a transaction only where one is begun explicitly."""
    connection = sqlite3.connect(f"{path.resolve().as_uri()}{uri_query}", uri=True,
                                 timeout=BUSY_TIMEOUT_SECONDS, isolation_level=None)
    try:
        _check_table(connection, path, create)
    except BaseException:
        connection.close()
        raise
    return connection


def open_read_only(path: Path) -> sqlite3.Connection:
    """An existing cache database, opened for reading only."""
    if not path.is_file():
        raise CacheToolError(f"no cache database at {path}")
    return _opened(path, "?mode=ro", create=False)


def open_writable(path: Path) -> sqlite3.Connection:
    """A cache database opened for writing, created with its directory if need be."""
    try:
        path.parent.mkdir(parents=True, exist_ok=True)
        return _opened(path, "", create=True)
    except NotACache:
        raise
    except (OSError, sqlite3.Error) as error:
        raise CacheToolError(f"cannot open {path} for writing: {error}") from None


def remove_database(path: Path) -> None:
    """The file with its companions."""
    for file in [path] + [path.with_name(path.name + suffix) for suffix in COMPANION_SUFFIXES]:
        file.unlink(missing_ok=True)
