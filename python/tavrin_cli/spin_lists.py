"""The spin lists a run will need: every ordering of spins from a set, for each number of edges,
that can couple to total spin 0; the size of their canonical bases; and how one request is
split into shards."""

import heapq
import itertools
import math
from dataclasses import dataclass

import tavrin
from tavrin_cli.errors import RequestError

# Enumerating more orderings than this takes longer than it is worth: narrow the ranges.
MAX_CANDIDATES = 2_000_000


@dataclass(frozen=True)
class PlannedBasis:
    spins: tuple[int, ...]
    om_dimension: int

    @property
    def shape(self) -> tuple[int, ...]:
        return tuple(s + 1 for s in self.spins) + (self.om_dimension,)

    @property
    def size(self) -> int:
        """8 bytes per entry: om_dimension times the product of the 2j + 1."""
        return 8 * math.prod(self.shape)


def canonical_spec(spins: tuple[int, ...]) -> tavrin.CGSpec:
    edges = [tavrin.Edge.incoming(tavrin.Spin(s)) for s in spins[:-1]]
    return tavrin.CGSpec.from_edges(edges + [tavrin.Edge.outgoing(tavrin.Spin(spins[-1]))])


def planned_basis(spins: tuple[int, ...]) -> PlannedBasis:
    """Raises ValueError when the spins cannot couple to total spin 0."""
    return PlannedBasis(spins, canonical_spec(spins).om_dimension())


def plan(spins: list[int], counts: list[int], explicit: list[tuple[int, ...]]) -> list[PlannedBasis]:
    """Every list from the ranges and the explicit lists, each once, that couples to spin 0, in
    an order that depends on the request alone."""
    candidates = sum(len(spins) ** n for n in counts)
    if candidates > MAX_CANDIDATES:
        raise RequestError(
            f"{candidates} orderings of {len(spins)} spins on {counts[0]} to {counts[-1]} edges "
            f"are too many to go through (at most {MAX_CANDIDATES}): narrow the ranges")
    planned: dict[tuple[int, ...], PlannedBasis] = {}
    for combo in (combo for n in counts for combo in itertools.product(spins, repeat=n)):
        if sum(combo) % 2 == 0 and combo not in planned:  # an odd sum cannot couple to 0
            try:
                planned[combo] = planned_basis(combo)
            except ValueError:
                pass  # the spins cannot couple to total spin 0
    for combo in explicit:
        if combo not in planned:
            try:
                planned[combo] = planned_basis(combo)
            except ValueError as error:
                raise RequestError(f"spins {','.join(map(str, combo))}: {error}") from None
    return list(planned.values())


def shard_of(planned: list[PlannedBasis], index: int, count: int) -> list[PlannedBasis]:
    """Shard index (from 0) of count: the largest bases first, each to the shard with the fewest
    bytes so far (the lowest-numbered among equals). The split depends on the request alone, not
    on what any cache holds, so every node that is given the same request agrees on it."""
    shards: list[list[PlannedBasis]] = [[] for _ in range(count)]
    loads = [(0, number) for number in range(count)]
    for item in sorted(planned, key=lambda item: (-item.size, item.spins)):
        load, number = heapq.heappop(loads)
        shards[number].append(item)
        heapq.heappush(loads, (load + item.size, number))
    return shards[index]
