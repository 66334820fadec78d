"""Copying rows into a cache, each checked first (rows.check_row), in one transaction per call:
from another cache file (merge) or from memory (the rows a worker built). A row already there
is never replaced; one that differs from it in any bit is a conflict."""

import io
import sqlite3
from dataclasses import dataclass, field
from pathlib import Path

from tavrin_cli.database import open_read_only, spins_text
from tavrin_cli.rows import RowFault, check_row, key_spins


@dataclass
class CopyReport:
    """Keys of the rows copied, of those already there, of those that differ from the row
    already there, and of those refused with why."""
    added: list[bytes] = field(default_factory=list)
    present: list[bytes] = field(default_factory=list)
    conflicts: list[bytes] = field(default_factory=list)
    refused: list[tuple[bytes, str]] = field(default_factory=list)


def row_name(key: object) -> str:
    try:
        return f"spins (2j) {spins_text(key_spins(key))}"
    except RowFault:
        return f"the row with key {key!r}"


class _Transaction:
    """BEGIN IMMEDIATE ... COMMIT on a connection in autocommit mode; rolled back on any way out
    but the end of the block."""

    def __init__(self, connection: sqlite3.Connection) -> None:
        self.connection = connection

    def __enter__(self) -> None:
        self.connection.execute("BEGIN IMMEDIATE")

    def __exit__(self, kind: object, *_: object) -> None:
        if kind is None:
            self.connection.execute("COMMIT")
        elif self.connection.in_transaction:
            self.connection.execute("ROLLBACK")


def merge_into(target: sqlite3.Connection, source: Path) -> CopyReport:
    """Copies the sound rows of source that target lacks; target is in autocommit mode."""
    open_read_only(source).close()
    report = CopyReport()
    target.execute("ATTACH DATABASE ? AS source", (f"{source.resolve().as_uri()}?mode=ro",))
    try:
        with _Transaction(target):
            rows = target.execute(
                "SELECT s.rowid, s.spins, typeof(s.data), length(s.data), t.spins IS NOT NULL, "
                "t.data IS NOT s.data FROM source.cgbasis AS s "
                "LEFT JOIN main.cgbasis AS t ON t.spins = s.spins ORDER BY s.spins").fetchall()
            for rowid, key, kind, length, present, differs in rows:
                if present:
                    (report.conflicts if differs else report.present).append(key)
                    continue
                try:
                    if kind != "blob":
                        raise RowFault(f"its data are {kind}, not an array")
                    with target.blobopen("cgbasis", "data", rowid, readonly=True,
                                         name="source") as data:
                        check_row(key, data, length)
                except RowFault as fault:
                    report.refused.append((key, str(fault)))
                    continue
                target.execute("INSERT INTO main.cgbasis (spins, data) "
                               "SELECT spins, data FROM source.cgbasis WHERE rowid = ?", (rowid,))
                report.added.append(key)
    finally:
        target.execute("DETACH DATABASE source")
    return report


def store_rows(target: sqlite3.Connection, rows: dict[bytes, bytes]) -> CopyReport:
    """Stores the sound rows that target lacks; target is in autocommit mode."""
    report = CopyReport()
    with _Transaction(target):
        for key, data in rows.items():
            try:
                check_row(key, io.BytesIO(data), len(data))
            except RowFault as fault:
                report.refused.append((key, str(fault)))
                continue
            found = target.execute("SELECT data FROM cgbasis WHERE spins = ?", (key,)).fetchone()
            if found is None:
                target.execute("INSERT INTO cgbasis (spins, data) VALUES (?, ?)", (key, data))
                report.added.append(key)
            else:
                (report.conflicts if found[0] != data else report.present).append(key)
    return report
