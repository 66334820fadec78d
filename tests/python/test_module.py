"""Module layout, type properties, docstrings and text signatures of the classes."""

import gc
import inspect
import shutil
import subprocess
import weakref

import pytest

import tavrin
from tavrin import CGSpec, Contraction, Direction, Edge, Spin

CLASSES = [Direction, Spin, Edge, CGSpec, Contraction]


def sample_objects():
    half = Spin(1)
    return [
        Direction.incoming(),
        half,
        Edge.incoming(half),
        CGSpec.from_edges([Edge.incoming(half), Edge.outgoing(half)]),
        Contraction([0], [1]),
    ]


def test_classes_come_first_in_all_in_registration_order():
    assert tavrin.__all__[:5] == ["Direction", "Spin", "Edge", "CGSpec", "Contraction"]
    for name in tavrin.__all__:
        assert hasattr(tavrin, name)


def test_module_docstring():
    doc = tavrin.__doc__
    assert doc.splitlines()[0] == "Tavrin: SU(2) X-symbols for Tensor Networks"
    for text in [
        "Features",
        "Compute X-symbols for arbitrary tensor network contractions",
        "Compute R-symbols for tensor edge permutations",
        "Automatic caching of computed basis data using SQLite",
        "Thread-safe database connection management",
        "Real-valued Condon-Shortley convention for CG coefficients",
        "Configuration",
        "TAVRIN_CACHE_PATH",
        ".tavrin/",
        "cgbasis.db",
        "Examples",
    ]:
        assert text in doc
    for never_created in ["xsymbol.db", "rsymbol.db"]:
        assert never_created not in doc


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_class_lives_in_builtins_under_its_bare_name(cls):
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == cls.__name__
    assert getattr(tavrin, cls.__name__) is cls


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_class_is_not_subclassable(cls):
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})


@pytest.mark.parametrize("obj", sample_objects(), ids=lambda o: type(o).__name__)
def test_instances_take_no_new_attributes_weakrefs_or_gc_tracking(obj):
    with pytest.raises(AttributeError):
        obj.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(obj)
    assert not gc.is_tracked(obj)


@pytest.mark.parametrize("cls", [Direction, Edge, CGSpec], ids=lambda c: c.__name__)
def test_classes_without_constructor_refuse_instantiation(cls):
    with pytest.raises(TypeError):
        cls()


def test_returned_objects_use_the_module_classes():
    spec = sample_objects()[3]
    edge = spec.edges[0]
    assert type(edge) is Edge
    assert type(edge.j) is Spin
    assert type(edge.dir) is Direction
    assert type(spec.with_inverted_axes([0])) is CGSpec


@pytest.mark.parametrize(
    "cls, signature, summary, example",
    [
        (Spin, "(j_doubled)", "Python wrapper for Spin quantum number",
         "Represents a spin quantum number stored as a doubled integer (2j)."),
        (Direction, None, "Python wrapper for Direction (edge orientation)",
         "Represents the orientation of a tensor edge: incoming (+1) or outgoing (-1)."),
        (Edge, None, "Python wrapper for Edge (tensor index)",
         "Represents a tensor edge with a spin quantum number and direction."),
        (CGSpec, None, "Python wrapper for CGSpec (Clebsch-Gordan Specification)",
         "Represents a Clebsch-Gordan tensor with external edges and outer multiplicity "
         "configurations."),
        (Contraction, "(axes_a, axes_b)", "Python wrapper for Contraction specification",
         "Specifies which edges to contract between two CGSpecs."),
    ],
    ids=lambda v: v.__name__ if isinstance(v, type) else None,
)
def test_class_docstring(cls, signature, summary, example):
    assert cls.__text_signature__ == signature
    paragraphs = cls.__doc__.split("\n\n")
    assert paragraphs[0] == summary
    assert paragraphs[1] == example
    assert "Examples\n--------\n>>> " in cls.__doc__
    if signature is not None:
        assert str(inspect.signature(cls)) == signature


METHODS = [
    # (callable, text signature, summary, has Raises section)
    (Spin.value, "($self)", "Get the floating-point value of the spin (j).", False),
    (Spin.twice, "($self)", "Get the doubled integer value (2j).", False),
    (Spin.dimension, "($self)", "Get the dimension of this spin representation (2j + 1).", False),
    (Spin.is_integer, "($self)", "Check if this is an integer spin.", False),
    (Spin.is_half_integer, "($self)", "Check if this is a half-integer spin.", False),
    (Direction.incoming, "()", "Create an incoming Direction.", False),
    (Direction.outgoing, "()", "Create an outgoing Direction.", False),
    (Direction.from_sign, "(sign)", "Create a Direction from its sign value (+1 or -1).", True),
    (Direction.sign, "($self)", "Get the numerical sign of this direction.", False),
    (Direction.flip, "($self)", "Return the flipped Direction.", False),
    (Direction.is_incoming, "($self)", "Check if this direction is incoming.", False),
    (Direction.is_outgoing, "($self)", "Check if this direction is outgoing.", False),
    (Edge.incoming, "(spin)", "Create an incoming edge with the given spin.", False),
    (Edge.outgoing, "(spin)", "Create an outgoing edge with the given spin.", False),
    (Edge.is_incoming, "($self)", "Check if this edge is incoming.", False),
    (Edge.is_outgoing, "($self)", "Check if this edge is outgoing.", False),
    (CGSpec.from_edges, "(edges)", "Create a CGSpec from a list of edges.", True),
    (CGSpec.num_external, "($self)", "Get the number of external edges.", False),
    (CGSpec.om_dimension, "($self)", "Get the outer multiplicity dimension.", False),
    (CGSpec.get_spins, "($self)", "Get the spin values (doubled) for all edges.", False),
    (CGSpec.get_directions, "($self)", "Get the directions for all edges.", False),
    (CGSpec.get_om_configurations, "($self)",
     "Get the OM configurations (doubled internal spins) in OM index order.", False),
    (CGSpec.with_inverted_axes, "($self, axes)",
     "Return a new CGSpec with the edge directions at the given axes flipped.", True),
]


@pytest.mark.parametrize("method, signature, summary, raises", METHODS,
                         ids=[m[0].__qualname__ for m in METHODS])
def test_method_docstring_and_signature(method, signature, summary, raises):
    assert method.__text_signature__ == signature
    inspect.signature(method)
    lines = method.__doc__.splitlines()
    assert lines[0] == summary
    assert "Parameters\n----------\n" in method.__doc__
    assert "Returns\n-------\n" in method.__doc__
    assert ("Raises\n------\n" in method.__doc__) == raises


@pytest.mark.parametrize(
    "prop, summary",
    [
        (Edge.j, "Get the spin of this edge."),
        (Edge.dir, "Get the direction of this edge."),
        (CGSpec.edges, "Get the edges of this CGSpec."),
        (Contraction.axes_a, "Get the axes from the first tensor."),
        (Contraction.axes_b, "Get the axes from the second tensor."),
    ],
)
def test_property_docstring(prop, summary):
    assert prop.__doc__.splitlines()[0] == summary


def test_internal_fault_is_a_direct_base_exception_subclass_outside_the_module():
    with pytest.raises(BaseException) as caught:
        try:
            Contraction([1, 2], [0])
        except Exception:  # must not catch it
            pytest.fail("InternalFault was caught by 'except Exception'")
    fault_class = type(caught.value)
    assert fault_class.__name__ == "InternalFault"
    assert fault_class.__bases__ == (BaseException,)
    assert not hasattr(tavrin, "InternalFault")
    assert "InternalFault" not in tavrin.__all__


@pytest.mark.skipif(shutil.which("nm") is None, reason="nm is not installed")
def test_module_exports_only_its_init_function():
    listing = subprocess.run(["nm", "-D", "--defined-only", tavrin.__file__],
                             capture_output=True, text=True, check=True).stdout
    functions = [line.split()[-1] for line in listing.splitlines()
                 if line.split()[1] in ("T", "t", "W", "i")]
    assert functions == ["PyInit_tavrin"]
