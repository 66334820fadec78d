"""Building specifications and reading the basis cache in the Python tests."""

import contextlib
import sqlite3
import struct

from tavrin import CGSpec, Edge, Spin

MAX_RANDOM_TWICE = 4


def edge(twice, sign):
    return Edge.incoming(Spin(twice)) if sign == 1 else Edge.outgoing(Spin(twice))


def spec_of(spins, signs=None):
    """Edges with the doubled spins; signs +1/-1, by default the canonical pattern."""
    if signs is None:
        signs = canonical_signs(len(spins))
    return CGSpec.from_edges([edge(s, d) for s, d in zip(spins, signs)])


def canonical_signs(n):
    """Edges 0 .. n-2 incoming, the last one outgoing."""
    return [1] * (n - 1) + [-1] if n else []


def random_spec(rng, n, max_twice=MAX_RANDOM_TWICE):
    """A random specification of n edges whose canonical basis exists."""
    while True:
        spins = [rng.randint(0, max_twice) for _ in range(n)]
        if n == 2 and spins[0] != spins[1]:
            continue
        signs = [rng.choice((1, -1)) for _ in range(n)]
        try:
            return spec_of(spins, signs)
        except ValueError:
            continue  # the spins do not couple to zero


def spin_key(spins):
    return struct.pack(f"<{len(spins)}i", *spins)


def spins_of_key(key):
    return list(struct.unpack(f"<{len(key) // 4}i", key))


@contextlib.contextmanager
def connected(path):
    """An SQLite connection to the file: committed if the block succeeds, closed in any case
    (a connection's own context manager only commits)."""
    with contextlib.closing(sqlite3.connect(path)) as connection, connection:
        yield connection


def cache_rows(directory):
    """{spin key: blob} of the cache database in directory."""
    with connected(directory / "cgbasis.db") as connection:
        return dict(connection.execute("SELECT spins, data FROM cgbasis"))


def store_row(directory, spins, blob):
    """Writes a row as another program would, creating the table if needed."""
    directory.mkdir(parents=True, exist_ok=True)
    with connected(directory / "cgbasis.db") as connection:
        connection.execute(
            "CREATE TABLE IF NOT EXISTS cgbasis (spins BLOB PRIMARY KEY, data BLOB NOT NULL)"
        )
        connection.execute(
            "INSERT OR REPLACE INTO cgbasis (spins, data) VALUES (?, ?)",
            (spin_key(spins), blob),
        )
