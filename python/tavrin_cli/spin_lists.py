"""The spin lists a run will need: every ordering of spins from a set, for each number of edges,
that can couple to total spin 0; and the size of their canonical bases."""

import argparse
import itertools
import math
from dataclasses import dataclass

import tavrin

# Enumerating more orderings than this takes longer than it is worth: narrow the ranges.
MAX_CANDIDATES = 2_000_000


def integer_set(text: str, minimum: int) -> list[int]:
    """'1-4,6' -> [1, 2, 3, 4, 6]; an argparse type (errors as ArgumentTypeError)."""
    values: set[int] = set()
    for part in text.split(","):
        first, dash, last = part.strip().partition("-")
        try:
            low = int(first)
            high = int(last) if dash else low
        except ValueError:
            raise argparse.ArgumentTypeError(
                f"'{part.strip()}' is not a number or a range such as 1-4") from None
        if low > high:
            raise argparse.ArgumentTypeError(f"range '{part.strip()}' runs backwards")
        if low < minimum:
            raise argparse.ArgumentTypeError(f"{low} is below the smallest allowed value {minimum}")
        values.update(range(low, high + 1))
    return sorted(values)


def doubled_spins(text: str) -> list[int]:
    return integer_set(text, 0)


def edge_counts(text: str) -> list[int]:
    return integer_set(text, 2)


def spin_list(text: str) -> tuple[int, ...]:
    """'1,1,2' -> (1, 1, 2): one explicit list of doubled spins, at least two."""
    try:
        spins = tuple(int(part) for part in text.split(","))
    except ValueError:
        raise argparse.ArgumentTypeError(f"'{text}' is not a comma-separated list of 2j values") from None
    if len(spins) < 2 or min(spins) < 0:
        raise argparse.ArgumentTypeError(f"'{text}' needs at least two spins, none negative")
    return spins


@dataclass(frozen=True)
class PlannedBasis:
    spins: tuple[int, ...]
    om_dimension: int

    @property
    def size(self) -> int:
        """8 bytes per entry: om_dimension times the product of the 2j + 1."""
        return 8 * self.om_dimension * math.prod(s + 1 for s in self.spins)


def canonical_spec(spins: tuple[int, ...]) -> tavrin.CGSpec:
    edges = [tavrin.Edge.incoming(tavrin.Spin(s)) for s in spins[:-1]]
    return tavrin.CGSpec.from_edges(edges + [tavrin.Edge.outgoing(tavrin.Spin(spins[-1]))])


def plan(spins: list[int], counts: list[int], explicit: list[tuple[int, ...]]) -> list[PlannedBasis]:
    """Every list from the ranges and the explicit lists, each once, that couples to spin 0."""
    candidates = sum(len(spins) ** n for n in counts)
    if candidates > MAX_CANDIDATES:
        raise argparse.ArgumentTypeError(
            f"{candidates} orderings of {len(spins)} spins on {counts[0]} to {counts[-1]} edges "
            f"are too many to go through (at most {MAX_CANDIDATES}): narrow the ranges")
    planned: dict[tuple[int, ...], PlannedBasis] = {}
    for combo in (combo for n in counts for combo in itertools.product(spins, repeat=n)):
        if sum(combo) % 2 == 0 and combo not in planned:  # an odd sum cannot couple to 0
            try:
                planned[combo] = PlannedBasis(combo, canonical_spec(combo).om_dimension())
            except ValueError:
                pass  # the spins cannot couple to total spin 0
    for combo in explicit:
        if combo not in planned:
            try:
                planned[combo] = PlannedBasis(combo, canonical_spec(combo).om_dimension())
            except ValueError as error:
                raise argparse.ArgumentTypeError(f"spins {','.join(map(str, combo))}: {error}") from None
    return list(planned.values())
