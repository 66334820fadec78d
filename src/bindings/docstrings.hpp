// Docstrings of the module and its classes. Methods begin with their signature line and "--"
// so that CPython derives __text_signature__ from them.
#pragma once

namespace tavrin::bindings::docs {

inline constexpr const char* module =
    "Tavrin: SU(2) X-symbols for Tensor Networks\n"
    "\n"
    "Computes SU(2) X-symbols, that is recoupling coefficients, for arbitrary tensor network\n"
    "contractions using left-associative fusion trees, together with R-symbols for edge\n"
    "permutations, canonical Clebsch-Gordan bases and Frobenius-Schur phases.\n"
    "\n"
    "Features\n"
    "--------\n"
    "- Compute X-symbols for arbitrary tensor network contractions\n"
    "- Compute R-symbols for tensor edge permutations\n"
    "- Automatic caching of computed basis data using SQLite\n"
    "- Thread-safe database connection management\n"
    "- Real-valued Condon-Shortley convention for CG coefficients\n"
    "\n"
    "Configuration\n"
    "-------------\n"
    "The environment variable TAVRIN_CACHE_PATH names the cache directory\n"
    "(default: \".tavrin/\" under the current directory), read at every call. The cache\n"
    "is one SQLite file in it, cgbasis.db, holding the canonical Clebsch-Gordan bases;\n"
    "deleting it is safe (bases are rebuilt on demand). The command `tavrin cache`\n"
    "shows, clears, pre-builds and merges caches.\n"
    "\n"
    "Computations release the interpreter lock, so other Python threads run meanwhile,\n"
    "and stop with KeyboardInterrupt on Ctrl-C.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> import tavrin\n"
    ">>> half = tavrin.Spin(1)\n"
    ">>> edges = [tavrin.Edge.incoming(half)] * 3 + [tavrin.Edge.outgoing(half)]\n"
    ">>> spec = tavrin.CGSpec.from_edges(edges)\n"
    ">>> spec.om_dimension()\n"
    "2\n";

// Pickling and copying

inline constexpr const char* reduce =
    "__reduce__($self)\n"
    "--\n"
    "\n"
    "Return how to rebuild this object, for pickle and copy.\n";

inline constexpr const char* reconstruct =
    "_reconstruct(class_name, state)\n"
    "--\n"
    "\n"
    "Rebuild a tavrin object from what its __reduce__ returned (used by pickle and copy).\n";

// The cache tool's view of the cache

inline constexpr const char* cache_database_path =
    "_cache_database_path()\n"
    "--\n"
    "\n"
    "Return the path of the cache database a call would use now (as TAVRIN_CACHE_PATH names\n"
    "it, a relative path resolved once per value of the variable).\n";

// Spin

inline constexpr const char* spin_class =
    "Spin(j_doubled)\n"
    "--\n"
    "\n"
    "Python wrapper for Spin quantum number\n"
    "\n"
    "Represents a spin quantum number stored as a doubled integer (2j).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "j_doubled : int\n"
    "    The doubled spin 2j, a non-negative 32-bit integer.\n"
    "\n"
    "Raises\n"
    "------\n"
    "ValueError\n"
    "    If j_doubled is negative.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from tavrin import Spin\n"
    ">>> Spin(1)\n"
    "Spin(1/2)\n"
    ">>> Spin(2).value()\n"
    "1.0\n"
    ">>> Spin(3).dimension()\n"
    "4\n";

inline constexpr const char* spin_value =
    "value($self)\n"
    "--\n"
    "\n"
    "Get the floating-point value of the spin (j).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "None\n"
    "\n"
    "Returns\n"
    "-------\n"
    "float\n"
    "    The spin j, half the doubled value.\n";

inline constexpr const char* spin_twice =
    "twice($self)\n"
    "--\n"
    "\n"
    "Get the doubled integer value (2j).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "None\n"
    "\n"
    "Returns\n"
    "-------\n"
    "int\n"
    "    The doubled spin 2j.\n";

inline constexpr const char* spin_dimension =
    "dimension($self)\n"
    "--\n"
    "\n"
    "Get the dimension of this spin representation (2j + 1).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "None\n"
    "\n"
    "Returns\n"
    "-------\n"
    "int\n"
    "    The number of magnetic states, 2j + 1.\n";

inline constexpr const char* spin_is_integer =
    "is_integer($self)\n"
    "--\n"
    "\n"
    "Check if this is an integer spin.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "None\n"
    "\n"
    "Returns\n"
    "-------\n"
    "bool\n"
    "    True when 2j is even.\n";

inline constexpr const char* spin_is_half_integer =
    "is_half_integer($self)\n"
    "--\n"
    "\n"
    "Check if this is a half-integer spin.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "None\n"
    "\n"
    "Returns\n"
    "-------\n"
    "bool\n"
    "    True when 2j is odd.\n";

// Direction

inline constexpr const char* direction_class =
    "Python wrapper for Direction (edge orientation)\n"
    "\n"
    "Represents the orientation of a tensor edge: incoming (+1) or outgoing (-1).\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from tavrin import Direction\n"
    ">>> Direction.incoming()\n"
    "Direction.incoming\n"
    ">>> Direction.from_sign(-1).flip()\n"
    "Direction.incoming\n";

inline constexpr const char* direction_incoming =
    "incoming()\n"
    "--\n"
    "\n"
    "Create an incoming Direction.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "None\n"
    "\n"
    "Returns\n"
    "-------\n"
    "Direction\n"
    "    The incoming direction (sign +1).\n";

inline constexpr const char* direction_outgoing =
    "outgoing()\n"
    "--\n"
    "\n"
    "Create an outgoing Direction.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "None\n"
    "\n"
    "Returns\n"
    "-------\n"
    "Direction\n"
    "    The outgoing direction (sign -1).\n";

inline constexpr const char* direction_from_sign =
    "from_sign(sign)\n"
    "--\n"
    "\n"
    "Create a Direction from its sign value (+1 or -1).\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "sign : int\n"
    "    +1 for incoming, -1 for outgoing.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "Direction\n"
    "    The direction with that sign.\n"
    "\n"
    "Raises\n"
    "------\n"
    "ValueError\n"
    "    If sign is neither +1 nor -1.\n";

inline constexpr const char* direction_sign =
    "sign($self)\n"
    "--\n"
    "\n"
    "Get the numerical sign of this direction.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "None\n"
    "\n"
    "Returns\n"
    "-------\n"
    "int\n"
    "    +1 for incoming, -1 for outgoing.\n";

inline constexpr const char* direction_flip =
    "flip($self)\n"
    "--\n"
    "\n"
    "Return the flipped Direction.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "None\n"
    "\n"
    "Returns\n"
    "-------\n"
    "Direction\n"
    "    A new object with the other direction.\n";

inline constexpr const char* direction_is_incoming =
    "is_incoming($self)\n"
    "--\n"
    "\n"
    "Check if this direction is incoming.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "None\n"
    "\n"
    "Returns\n"
    "-------\n"
    "bool\n"
    "    True for the incoming direction.\n";

inline constexpr const char* direction_is_outgoing =
    "is_outgoing($self)\n"
    "--\n"
    "\n"
    "Check if this direction is outgoing.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "None\n"
    "\n"
    "Returns\n"
    "-------\n"
    "bool\n"
    "    True for the outgoing direction.\n";

// Edge

inline constexpr const char* edge_class =
    "Python wrapper for Edge (tensor index)\n"
    "\n"
    "Represents a tensor edge with a spin quantum number and direction.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from tavrin import Edge, Spin\n"
    ">>> j = Spin(1)\n"
    ">>> Edge.incoming(j)\n"
    "Edge.incoming(Spin(1/2))\n"
    ">>> Edge.outgoing(j).dir\n"
    "Direction.outgoing\n";

inline constexpr const char* edge_incoming =
    "incoming(spin)\n"
    "--\n"
    "\n"
    "Create an incoming edge with the given spin.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "spin : Spin\n"
    "    The spin carried by the edge.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "Edge\n"
    "    An incoming edge of that spin.\n";

inline constexpr const char* edge_outgoing =
    "outgoing(spin)\n"
    "--\n"
    "\n"
    "Create an outgoing edge with the given spin.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "spin : Spin\n"
    "    The spin carried by the edge.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "Edge\n"
    "    An outgoing edge of that spin.\n";

inline constexpr const char* edge_j =
    "Get the spin of this edge.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "Spin\n"
    "    A new Spin object with the edge's spin.\n";

inline constexpr const char* edge_dir =
    "Get the direction of this edge.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "Direction\n"
    "    A new Direction object with the edge's direction.\n";

inline constexpr const char* edge_is_incoming =
    "is_incoming($self)\n"
    "--\n"
    "\n"
    "Check if this edge is incoming.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "None\n"
    "\n"
    "Returns\n"
    "-------\n"
    "bool\n"
    "    True when the edge's direction is incoming.\n";

inline constexpr const char* edge_is_outgoing =
    "is_outgoing($self)\n"
    "--\n"
    "\n"
    "Check if this edge is outgoing.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "None\n"
    "\n"
    "Returns\n"
    "-------\n"
    "bool\n"
    "    True when the edge's direction is outgoing.\n";

// CGSpec

inline constexpr const char* cg_spec_class =
    "Python wrapper for CGSpec (Clebsch-Gordan Specification)\n"
    "\n"
    "Represents a Clebsch-Gordan tensor with external edges and outer multiplicity "
    "configurations.\n"
    "\n"
    "The configurations are the internal spins of the left-associative fusion tree that\n"
    "couples the edges to total spin 0; their number is the outer multiplicity dimension.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from tavrin import CGSpec, Edge, Spin\n"
    ">>> half, one = Spin(1), Spin(2)\n"
    ">>> spec = CGSpec.from_edges([Edge.incoming(half), Edge.incoming(half), Edge.outgoing(one)])\n"
    ">>> spec\n"
    "CGSpec(num_external=3, om_dim=1)\n"
    ">>> spec.get_directions()\n"
    "[1, 1, -1]\n";

inline constexpr const char* cg_spec_from_edges =
    "from_edges(edges)\n"
    "--\n"
    "\n"
    "Create a CGSpec from a list of edges.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "edges : sequence of Edge\n"
    "    The external edges, in order.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "CGSpec\n"
    "    The CG specification with the OM configurations of the edges' spins.\n"
    "\n"
    "Raises\n"
    "------\n"
    "ValueError\n"
    "    If the edge spins cannot couple to total spin 0 (for two edges: if their spins\n"
    "    differ). ``CGSpec.admits_invariant`` asks the same without an exception.\n"
    "\n"
    "Notes\n"
    "-----\n"
    "Fewer than two edges are accepted whatever their spins, with one empty configuration\n"
    "(the specification of a scalar or a single leg); they have no canonical basis.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from tavrin import CGSpec, Edge, Spin\n"
    ">>> CGSpec.from_edges([Edge.incoming(Spin(1))] * 3 + [Edge.outgoing(Spin(1))]).om_dimension()\n"
    "2\n"
    ">>> CGSpec.from_edges([Edge.incoming(Spin(1)), Edge.outgoing(Spin(3))])\n"
    "Traceback (most recent call last):\n"
    "    ...\n"
    "ValueError: Invalid CGSpec: Two-edge CG tensor requires equal spins, got j=1/2 and j=3/2\n";

inline constexpr const char* cg_spec_admits_invariant =
    "admits_invariant(edges)\n"
    "--\n"
    "\n"
    "Whether edges of these spins carry an invariant tensor (couple to total spin 0).\n"
    "\n"
    "True when the doubled spins add up to an even number and none exceeds the sum of\n"
    "the others; directions play no part. For two or more edges this is exactly when\n"
    "``CGSpec.from_edges`` succeeds; no exception, no configuration listed.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "edges : sequence of Edge\n"
    "    The edges, in any order.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "bool\n"
    "    True for no edges, for one edge of spin 0, for two edges of equal spins, and for\n"
    "    three or more edges whose spins couple to 0.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from tavrin import CGSpec, Edge, Spin\n"
    ">>> half = Edge.incoming(Spin(1))\n"
    ">>> CGSpec.admits_invariant([half] * 3), CGSpec.admits_invariant([half] * 4)\n"
    "(False, True)\n"
    ">>> CGSpec.admits_invariant([half, Edge.outgoing(Spin(3))])\n"
    "False\n";

inline constexpr const char* cg_spec_count_invariants =
    "count_invariants(edges)\n"
    "--\n"
    "\n"
    "The number of independent invariant tensors of edges of these spins.\n"
    "\n"
    "For two or more edges it is the ``om_dimension()`` that ``CGSpec.from_edges`` would\n"
    "give, and 0 where it would fail; it is counted without listing the configurations\n"
    "and without an exception, exactly, however large. No edges carry one invariant (the\n"
    "scalar), one edge one if its spin is 0 and none otherwise.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "edges : sequence of Edge\n"
    "    The edges; directions play no part.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "int\n"
    "    The dimension of the space of invariant tensors.\n"
    "\n"
    "Raises\n"
    "------\n"
    "ValueError\n"
    "    If an internal spin of the fusion tree ranges over more than 2**21 values (edges of\n"
    "    spins in the hundreds of millions), too many to count.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from tavrin import CGSpec, Edge, Spin\n"
    ">>> half = Edge.incoming(Spin(1))\n"
    ">>> [CGSpec.count_invariants([half] * n) for n in (2, 3, 4, 6, 8)]\n"
    "[1, 0, 2, 5, 14]\n"
    ">>> CGSpec.count_invariants([half] * 80)   # beyond what one CGSpec can list\n"
    "2622127042276492108820\n";

inline constexpr const char* cg_spec_num_external =
    "num_external($self)\n"
    "--\n"
    "\n"
    "Get the number of external edges.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "None\n"
    "\n"
    "Returns\n"
    "-------\n"
    "int\n"
    "    The number of edges.\n";

inline constexpr const char* cg_spec_om_dimension =
    "om_dimension($self)\n"
    "--\n"
    "\n"
    "Get the outer multiplicity dimension.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "None\n"
    "\n"
    "Returns\n"
    "-------\n"
    "int\n"
    "    The number of OM configurations.\n";

inline constexpr const char* cg_spec_edges =
    "Get the edges of this CGSpec.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "list of Edge\n"
    "    New Edge objects, in edge order.\n";

inline constexpr const char* cg_spec_get_spins =
    "get_spins($self)\n"
    "--\n"
    "\n"
    "Get the spin values (doubled) for all edges.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "None\n"
    "\n"
    "Returns\n"
    "-------\n"
    "list of int\n"
    "    The doubled spin 2j of each edge, in edge order.\n";

inline constexpr const char* cg_spec_get_om_configurations =
    "get_om_configurations($self)\n"
    "--\n"
    "\n"
    "Get the OM configurations (doubled internal spins) in OM index order.\n"
    "\n"
    "Configuration a labels slice a of the canonical basis and index a of every OM axis of\n"
    "the symbols. Its entries are the doubled internal spins 2k_1, ..., 2k_(n-2) of the\n"
    "left-associative fusion tree: k_1 couples edges 0 and 1, k_p couples k_(p-1) with edge p,\n"
    "and the last entry equals the spin of the last edge. Specifications of at most two edges\n"
    "have one empty configuration.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "None\n"
    "\n"
    "Returns\n"
    "-------\n"
    "list of list of int\n"
    "    A new list with one list of max(n - 2, 0) doubled spins per configuration, in\n"
    "    ascending lexicographic order.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> import tavrin\n"
    ">>> half = tavrin.Spin(1)\n"
    ">>> spec = tavrin.CGSpec.from_edges([tavrin.Edge.incoming(half)] * 4)\n"
    ">>> spec.get_om_configurations()\n"
    "[[0, 1], [2, 1]]\n";

inline constexpr const char* cg_spec_get_directions =
    "get_directions($self)\n"
    "--\n"
    "\n"
    "Get the directions for all edges.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "None\n"
    "\n"
    "Returns\n"
    "-------\n"
    "list of int\n"
    "    +1 (incoming) or -1 (outgoing) for each edge, in edge order.\n";

inline constexpr const char* cg_spec_with_inverted_axes =
    "with_inverted_axes($self, axes)\n"
    "--\n"
    "\n"
    "Return a new CGSpec with the edge directions at the given axes flipped.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "axes : sequence of int\n"
    "    Edge positions to flip; a position listed several times is flipped once.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "CGSpec\n"
    "    The CG specification with the same spins and OM configurations.\n"
    "\n"
    "Raises\n"
    "------\n"
    "RuntimeError\n"
    "    If an axis is not an edge position.\n"
    "OverflowError\n"
    "    If an axis is negative.\n";

// Contraction

inline constexpr const char* contraction_class =
    "Contraction(axes_a, axes_b)\n"
    "--\n"
    "\n"
    "Python wrapper for Contraction specification\n"
    "\n"
    "Specifies which edges to contract between two CGSpecs.\n"
    "\n"
    "Pair i joins edge axes_a[i] of the first specification with edge axes_b[i] of the\n"
    "second.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "axes_a : sequence of int\n"
    "    Edge positions in the first specification.\n"
    "axes_b : sequence of int\n"
    "    Edge positions in the second specification, as many as in axes_a.\n"
    "\n"
    "Examples\n"
    "--------\n"
    ">>> from tavrin import Contraction\n"
    ">>> Contraction([2], [0])\n"
    "Contraction(axes_a=[2], axes_b=[0])\n"
    ">>> Contraction([], []).axes_a\n"
    "[]\n";

inline constexpr const char* contraction_axes_a =
    "Get the axes from the first tensor.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "list of int\n"
    "    A new list with the edge positions in the first specification.\n";

inline constexpr const char* contraction_axes_b =
    "Get the axes from the second tensor.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "list of int\n"
    "    A new list with the edge positions in the second specification.\n";

}  // namespace tavrin::bindings::docs
