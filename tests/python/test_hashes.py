"""Hashes of edges, specifications and contractions against CPython's own SipHash-1-3.

With PYTHONHASHSEED=0, CPython hashes a non-empty bytes object with SipHash-1-3 under an
all-zero key, the algorithm the value classes use on their byte layouts: the two must agree.
"""

import json
import os
import struct
import subprocess
import sys

import pytest

from spec_factory import spec_of
from tavrin import Contraction, Edge, Spin


def edge_bytes(twice, outgoing):
    return struct.pack("<iQ", twice, 1 if outgoing else 0)


def spec_bytes(spins, signs):
    return b"".join(struct.pack("<ii", s, d) for s, d in zip(spins, signs))


def contraction_bytes(axes_a, axes_b):
    return b"".join(struct.pack(f"<Q{len(axes)}Q", len(axes), *axes) for axes in (axes_a, axes_b))


EDGES = [(0, False), (1, False), (1, True), (2, True), (2147483647, False), (2147483647, True)]
SPECS = [
    ((1, 1, 2), (1, 1, -1)),
    ((1, 1, 1, 1), (1, -1, 1, -1)),
    ((2, 2), (-1, -1)),
    ((3, 1, 2, 4, 2), (1, 1, -1, 1, -1)),
]
CONTRACTIONS = [([], []), ([2], [0]), ([0, 1], [1, 0]), ([2**64 - 1], [5])]


def cpython_hashes(messages):
    """hash(bytes) of each message in a fresh interpreter with PYTHONHASHSEED=0."""
    script = "import sys, json; print(json.dumps([hash(bytes.fromhex(m)) for m in json.load(sys.stdin)]))"
    result = subprocess.run(
        [sys.executable, "-c", script],
        input=json.dumps([m.hex() for m in messages]),
        capture_output=True,
        text=True,
        check=True,
        env={**os.environ, "PYTHONHASHSEED": "0"},
    )
    return json.loads(result.stdout)


def cases():
    for twice, outgoing in EDGES:
        edge = (Edge.outgoing if outgoing else Edge.incoming)(Spin(twice))
        yield repr(edge), edge, edge_bytes(twice, outgoing)
    for spins, signs in SPECS:
        yield f"spec{spins}{signs}", spec_of(spins, signs), spec_bytes(spins, signs)
    for axes_a, axes_b in CONTRACTIONS:
        contraction = Contraction(axes_a, axes_b)
        yield repr(contraction), contraction, contraction_bytes(axes_a, axes_b)


CASES = list(cases())


@pytest.fixture(scope="module")
def reference():
    return dict(zip((name for name, _, _ in CASES), cpython_hashes([m for _, _, m in CASES])))


@pytest.mark.parametrize("name, value, message", CASES, ids=[name for name, _, _ in CASES])
def test_hash_is_cpythons_siphash_of_the_byte_layout(reference, name, value, message):
    assert message, "CPython hashes the empty bytes object as 0, not by SipHash"
    assert hash(value) == reference[name]
