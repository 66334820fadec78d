"""What the block tensors refuse from Python, with the exception and its whole message; and the
edges of what they accept: leg dimensions near the 64-bit limit, sectors in any order, tensors
without legs."""

import re
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import tavrin
from tavrin import BlockTensor, Leg, contract

HALF = Leg.incoming({1: 1})
PAIR = [HALF, HALF.flipped()]
TRIPLE = [HALF, HALF, Leg.outgoing({0: 1, 2: 1})]


def pair():
    return BlockTensor.random(PAIR, seed=1)


def chain_on_pair():
    h = contract(pair(), pair(), [], [])  # legs (in, out, in, out)
    return [(h, [0, 1], [1, 0], True)]


REFUSED = [
    # legs
    (lambda: Leg.incoming({3: 1, 1: 0}), ValueError,
     "argument 'sectors': a multiplicity is at least 1, got 0"),
    (lambda: Leg.incoming({1: -2}), ValueError,
     "argument 'sectors': a multiplicity is at least 1, got -2"),
    (lambda: Leg.incoming([(3, 1), (1, 1)]), ValueError,
     "the sectors of a leg are listed in ascending spin, each spin once; got 2j = 1 after 2j = 3"),
    (lambda: Leg.incoming({-1: 1}), ValueError, "Invalid spin value: -1"),
    (lambda: Leg("in", {1: 1}), TypeError,
     "argument 'direction': 'str' object is not an instance of 'Direction'"),
    (lambda: Leg.incoming({0: 2**62, 1: 2**62}), ValueError,
     "the leg's dense dimension, the sum of multiplicity * (2j + 1) over its sectors, exceeds "
     "2^63 - 1"),
    (lambda: Leg.incoming({2**31 - 1: 2**33}), ValueError,
     "the leg's dense dimension, the sum of multiplicity * (2j + 1) over its sectors, exceeds "
     "2^63 - 1"),
    # more legs than a block's NumPy array has axes
    (lambda: BlockTensor.zeros([Leg.incoming({0: 1})] * 32), ValueError,
     "a tensor has at most 31 legs (its blocks have an axis more, and NumPy arrays at most 32); "
     "got 32"),
    (lambda: contract(BlockTensor.zeros([Leg.incoming({0: 1})] * 17),
                      BlockTensor.zeros([Leg.outgoing({0: 1})] * 17), [0], [0]), ValueError,
     "a tensor has at most 31 legs (its blocks have an axis more, and NumPy arrays at most 32); "
     "got 32"),
    (lambda: BlockTensor.random(PAIR, seed=-1), ValueError,
     "argument 'seed': a seed is at least 0, got -1"),
    # leg positions
    (lambda: contract(BlockTensor.zeros(PAIR), BlockTensor.zeros(PAIR), [1], [2]), ValueError,
     "axes_b = 2: a tensor of 2 legs has legs 0 ... 1"),
    (lambda: contract(BlockTensor.zeros(TRIPLE), BlockTensor.zeros(PAIR), [3], [0]), ValueError,
     "axes_a = 3: a tensor of 3 legs has legs 0 ... 2"),
    (lambda: pair().flip(2), ValueError, "leg = 2: a tensor of 2 legs has legs 0 ... 1"),
    (lambda: BlockTensor.zeros([]).flip(0), ValueError, "leg = 0: a tensor of 0 legs has no legs"),
    (lambda: pair().flip(-1), ValueError,
     "argument 'leg': -1 is negative: leg positions count from 0"),
    (lambda: contract(pair(), pair(), [0], [-1]), ValueError,
     "argument 'axes_b': -1 is negative: leg positions count from 0"),
    (lambda: BlockTensor.random(TRIPLE).fuse(3, 1), ValueError,
     "first = 3: a tensor of 3 legs has legs 0 ... 2"),
    (lambda: BlockTensor.random(TRIPLE).fuse(1, 3), ValueError,
     "count = 3: fusing takes one or more of the legs 1 ... 2"),
    (lambda: BlockTensor.random(TRIPLE).split(3, [HALF]), ValueError,
     "position = 3: a tensor of 3 legs has legs 0 ... 2"),
    (lambda: tavrin.lowest_eigenpair(pair(), [(chain_on_pair()[0][0], [0, 1], [1, 4], True)]),
     ValueError, "chain step 0: operand_axes = 4: a tensor of 4 legs has legs 0 ... 3"),
    (lambda: tavrin.lowest_eigenpair(pair(), chain_on_pair() + [(pair(), [2], [0], False)]),
     ValueError, "chain step 1: current_axes = 2: a tensor of 2 legs has legs 0 ... 1"),
    # contraction
    (lambda: contract(BlockTensor.zeros(PAIR), BlockTensor.zeros(PAIR), [0], [0]), ValueError,
     "Invalid contraction: leg 0 of a and leg 0 of b have the same direction; a pair joins an "
     "incoming with an outgoing leg"),
    (lambda: contract(BlockTensor.zeros(PAIR), BlockTensor.zeros([Leg.incoming({1: 2}), HALF]),
                      [1], [0]), ValueError,
     "leg 1 of a and leg 0 of b have different multiplicities for 2j = 1"),
    (lambda: tavrin.lowest_eigenpair(pair(), [(pair(), [0, 1], [0, 1], True)]), ValueError,
     "chain step 0: Invalid contraction: leg 0 of a and leg 0 of b have the same direction; a "
     "pair joins an incoming with an outgoing leg"),
    # factorisations
    (lambda: BlockTensor.zeros([]).singular_values(), ValueError,
     "singular_values is for the diagonal s of svd, of legs (bond incoming, bond outgoing); got "
     "a tensor of 0 legs"),
    (lambda: BlockTensor.random(TRIPLE).singular_values(), ValueError,
     "singular_values is for the diagonal s of svd, of legs (bond incoming, bond outgoing); got "
     "a tensor of 3 legs"),
    (lambda: BlockTensor.zeros([]).svd(0), ValueError,
     "a cut of a tensor of 0 legs leaves at least one leg on either side; got 0 legs before it"),
    (lambda: BlockTensor.zeros([]).qr(1), ValueError,
     "a cut of a tensor of 0 legs leaves at least one leg on either side; got 1 legs before it"),
    (lambda: pair().svd(2), ValueError,
     "a cut of a tensor of 2 legs leaves at least one leg on either side; got 2 legs before it"),
    (lambda: pair().svd(1, max_multiplets=0), ValueError,
     "argument 'max_multiplets': expected 1 or more, got 0"),
    (lambda: pair().svd(1, max_multiplets=-3), ValueError,
     "argument 'max_multiplets': expected 1 or more, got -3"),
    (lambda: pair().svd(1, max_discarded_weight=-0.5), ValueError,
     "argument 'max_discarded_weight': expected a number of 0 or more, got -0.5"),
    (lambda: pair().svd(1, max_discarded_weight=float("nan")), ValueError,
     "argument 'max_discarded_weight': expected a number of 0 or more, got nan"),
    (lambda: pair().svd(1, max_discarded_weight="0.1"), TypeError,
     "argument 'max_discarded_weight': must be real number, not str"),
    (lambda: pair().permute([0, 0]), ValueError, "a permutation names every leg once; got leg 0 twice"),
    # the eigensolver
    (lambda: tavrin.lowest_eigenpair(pair(), chain_on_pair(), max_iterations=0), ValueError,
     "argument 'max_iterations': expected 1 or more, got 0"),
    (lambda: tavrin.lowest_eigenpair(pair(), chain_on_pair(), tolerance=float("nan")),
     ValueError, "argument 'tolerance': expected a number of 0 or more, got nan"),
    (lambda: tavrin.lowest_eigenpair(pair() * float("nan"), chain_on_pair()), ValueError,
     "the start vector is not finite: an entry is infinite or NaN, or too large to square"),
    (lambda: tavrin.lowest_eigenpair(BlockTensor.zeros(PAIR), chain_on_pair()), ValueError,
     "the start vector is zero"),
    (lambda: tavrin.lowest_eigenpair(pair(), [pair()]), TypeError,
     "argument 'chain': chain step 0: a step is a tuple (operand, current_axes, operand_axes, "
     "operand_first)"),
    # arrays
    (lambda: BlockTensor.from_dense(PAIR, np.ones((2, 2)) * 1j), TypeError,
     "argument 'array': expected an array of real numbers, got dtype complex128"),
    (lambda: BlockTensor.from_dense(PAIR, np.ones((2, 2), dtype=object)), TypeError,
     "argument 'array': expected an array of real numbers, got dtype object"),
    (lambda: BlockTensor.from_dense(PAIR, [[1j, 0], [0, 1j]]), TypeError,
     "argument 'array': expected an array of real numbers, got dtype complex128"),
    (lambda: BlockTensor.from_dense(PAIR, np.zeros((2, 3))), ValueError,
     "the dense array's shape is not the legs' dense dimensions"),
    (lambda: BlockTensor.from_blocks(PAIR, {(1, 1): np.ones((1, 1, 1), dtype=complex)}),
     TypeError, "argument 'blocks': expected an array of real numbers, got dtype complex128"),
    (lambda: BlockTensor.from_blocks(PAIR, {(1, 1): np.ones((1, 1, 1), dtype=object)}),
     TypeError, "argument 'blocks': expected an array of real numbers, got dtype object"),
    (lambda: BlockTensor.from_blocks(TRIPLE, {(1, 1, 2): np.zeros(3)}), ValueError,
     "blocks[(1, 1, 2)] has shape (3,), expected (1, 1, 1, 1) (the multiplicities of its "
     "sectors, then its OM dimension)"),
    (lambda: BlockTensor.from_blocks(TRIPLE, {(1, 1): np.zeros(1)}), ValueError,
     "blocks[(1, 1)]: the legs have no sectors of these spins, a sector of each leg in order"),
    (lambda: BlockTensor.from_blocks([HALF, HALF, Leg.outgoing({4: 1})], {(1, 1, 4): np.zeros(1)}),
     ValueError,
     "blocks[(1, 1, 4)]: the legs admit no block of these spins (they couple to no invariant)"),
    (lambda: BlockTensor.from_blocks(PAIR, {(-1, 1): np.zeros((1, 1, 1))}), ValueError,
     "blocks[(-1, 1)]: the legs have no sectors of these spins, a sector of each leg in order"),
    (lambda: BlockTensor.from_blocks(PAIR, {(2**32 + 1, 1): np.zeros((1, 1, 1))}), ValueError,
     "blocks[(4294967297, 1)]: the legs have no sectors of these spins, a sector of each leg in "
     "order"),
    (lambda: BlockTensor.from_blocks(PAIR, [np.zeros(1)]), TypeError,
     "argument 'blocks': expected a dict"),
    # arithmetic
    (lambda: BlockTensor.zeros(PAIR) + BlockTensor.zeros([HALF, HALF]), ValueError,
     "adding needs tensors with the same legs"),
    (lambda: pair() / 0, ZeroDivisionError, "division of a block tensor by zero"),
    (lambda: pair().allclose(pair(), rtol=float("nan")), ValueError,
     "argument 'rtol': expected a number of 0 or more, got nan"),
    (lambda: pair().allclose(pair(), atol=-1e-9), ValueError,
     "argument 'atol': expected a number of 0 or more, got -1e-09"),
]


@pytest.mark.parametrize("call, error, message", REFUSED)
def test_refused(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert str(raised.value) == message


@pytest.mark.parametrize("sectors, dimension", [
    ({2**31 - 1: 1}, 2**31),
    ({0: 2**62}, 2**62),
    ({0: 2**62, 2**31 - 1: 2}, 2**62 + 2**32),
    ({0: 2**63 - 1}, 2**63 - 1),
])
def test_dense_dimension_near_the_64_bit_limit_is_exact(sectors, dimension):
    assert Leg.incoming(sectors).dense_dimension() == dimension


def test_sectors_given_as_a_dict_in_any_order():
    leg = Leg.outgoing({3: 1, 0: 2, 1: 4})
    assert leg == Leg.outgoing([(0, 2), (1, 4), (3, 1)])
    assert leg.sectors == [(0, 2), (1, 4), (3, 1)]


def test_a_tensor_without_legs_round_trips_a_0_d_array():
    t = BlockTensor.from_dense([], np.array(2.5))
    assert t.to_dense().shape == () and float(t.to_dense()) == 2.5
    assert BlockTensor.from_blocks([], t.blocks) == t


def test_a_tensor_larger_than_memory_raises_memory_error_before_allocating():
    code = textwrap.dedent("""
        import resource
        from tavrin import BlockTensor, Leg
        # Each block 2 GiB, 2048 of them: more than any machine's memory.
        legs = [Leg.incoming({j: 2**14 for j in range(0, 4096, 2)})]
        legs.append(legs[0].flipped())
        for make in (BlockTensor.zeros, BlockTensor.random):
            try:
                make(legs)
                print("made")
            except MemoryError:
                print("MemoryError")
        print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss // 1024)
    """)
    # The address space is bounded so that a fault cannot take the machine's memory with it.
    limit = f"import resource; resource.setrlimit(resource.RLIMIT_AS, ({8 << 30}, {8 << 30}))\n"
    result = subprocess.run([sys.executable, "-c", limit + code], capture_output=True,
                            text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    *outcomes, peak = result.stdout.split()
    assert outcomes == ["MemoryError", "MemoryError"]
    assert int(peak) < 1024, f"a peak of {peak} MiB"
