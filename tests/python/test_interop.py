"""Interoperability with the real NumPy: cached blobs, blobs written by NumPy, the C API."""

import io
import os
import subprocess
import sys
import textwrap
import warnings

import numpy as np
import pytest

from spec_factory import cache_rows, spec_of, spin_key, spins_of_key, store_row
from tavrin import Contraction, canonical_basis, compute_rsymbol, compute_xsymbol


@pytest.fixture
def cache_dir(tmp_path, monkeypatch):
    directory = tmp_path / "cache"
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(directory))
    return directory


def npy_bytes(array, **kwargs):
    buffer = io.BytesIO()
    np.save(buffer, array, **kwargs)
    return buffer.getvalue()


def test_every_stored_blob_is_the_canonical_basis_for_numpy_load(cache_dir):
    compute_xsymbol(spec_of([1, 1, 2]), spec_of([2, 1, 1], [1, -1, -1]), Contraction([2], [0]))
    compute_rsymbol(spec_of([2, 2, 2, 2], [1, 1, 1, 1]), [3, 1, 0, 2])
    canonical_basis(spec_of([4, 3, 1], [-1, 1, 1]))
    rows = cache_rows(cache_dir)
    assert len(rows) == 5
    for key, blob in rows.items():
        spins = spins_of_key(key)
        stored = np.load(io.BytesIO(blob))
        assert stored.dtype == np.dtype("<f8") and stored.flags.c_contiguous
        assert blob.startswith(b"\x93NUMPY\x01\x00")
        assert (10 + int.from_bytes(blob[8:10], "little")) % 64 == 0
        assert stored.tobytes() == canonical_basis(spec_of(spins)).tobytes()


@pytest.mark.parametrize(
    "variant",
    [lambda b: b, np.asfortranarray, lambda b: b.astype(">f8"),
     lambda b: np.asfortranarray(b.astype(">f8"))],
    ids=["c-order", "fortran-order", "big-endian", "big-endian-fortran"],
)
def test_blobs_written_by_numpy_save_are_read(cache_dir, tmp_path, monkeypatch, variant):
    spins = [2, 1, 1]
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(tmp_path / "reference"))
    truth = canonical_basis(spec_of(spins))
    flipped_truth = canonical_basis(spec_of(spins, [-1, 1, 1]))
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(cache_dir))
    # Doubled, so that a rebuilt basis could not pass for the stored one.
    store_row(cache_dir, spins, npy_bytes(variant(2.0 * truth)))
    assert canonical_basis(spec_of(spins)).tobytes() == (2.0 * truth).tobytes()
    assert canonical_basis(spec_of(spins, [-1, 1, 1])).tobytes() == (2.0 * flipped_truth).tobytes()


@pytest.mark.parametrize(
    "stored",
    [np.zeros((3, 3)), np.zeros(()), np.zeros((2, 2)), np.zeros((2, 2, 2)), np.zeros((2, 2, 0)),
     np.zeros((1000, 1000, 2))],
    ids=lambda a: str(a.shape),
)
def test_stored_array_of_the_wrong_shape_is_rebuilt_and_left(cache_dir, tmp_path, monkeypatch,
                                                            stored):
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(tmp_path / "reference"))
    truth = {tuple(signs): canonical_basis(spec_of([1, 1], signs)) for signs in SIGNS}
    monkeypatch.setenv("TAVRIN_CACHE_PATH", str(cache_dir))
    blob = npy_bytes(stored)
    store_row(cache_dir, [1, 1], blob)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        for signs in SIGNS:
            assert canonical_basis(spec_of([1, 1], signs)).tobytes() == truth[signs].tobytes()
    # One warning for the row, however often it is met; the row stays as it was.
    assert len(caught) == 1 and caught[0].category is RuntimeWarning
    assert ": Stored basis has shape " in str(caught[0].message)
    assert cache_rows(cache_dir)[spin_key([1, 1])] == blob


SIGNS = [(1, -1), (1, 1)]


def run_python(code, env=None, path=()):
    environment = dict(os.environ if env is None else env)
    if path:
        environment["PYTHONPATH"] = os.pathsep.join(
            [*path, *filter(None, [environment.get("PYTHONPATH")])])
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=environment,
                          capture_output=True, text=True, timeout=120)


CALL_AND_REPORT = """
    import sys
    import tavrin
    half = tavrin.Spin(1)
    spec = tavrin.CGSpec.from_edges([tavrin.Edge.incoming(half), tavrin.Edge.outgoing(half)])
    try:
        tavrin.canonical_basis(spec)
    except Exception as error:
        sys.exit("caught by except Exception: %r" % error)
    except BaseException as fault:
        print(type(fault).__name__, type(fault).__bases__[0].__name__, fault, sep="|")
    print("conjugate", tavrin.compute_conjugate(spec)[0], sep="|")
"""


def fake_numpy(root, files):
    for relative, text in files.items():
        target = root / relative
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_text(textwrap.dedent(text))
    return str(root)


FAKE_NUMPYS = {
    "bad-version": ({"numpy/__init__.py": "__version__ = 'not a version'",
                     "numpy/lib/__init__.py": """
                         class NumpyVersion:
                             def __init__(self, text):
                                 raise ValueError('Not a valid numpy version string')
                     """},
                    "Not a valid numpy version string"),
    "numpy-2-without-capsule": ({"numpy/__init__.py": "__version__ = '2.1.0'",
                                 "numpy/lib/__init__.py": """
                                     class NumpyVersion:
                                         def __init__(self, text):
                                             self.major = int(text.split('.')[0])
                                 """,
                                 "numpy/_core/__init__.py": "",
                                 "numpy/_core/multiarray.py": "_ARRAY_API = 'not a capsule'"},
                                "numpy._core.multiarray._ARRAY_API is not a capsule"),
    "numpy-1-without-attribute": ({"numpy/__init__.py": "__version__ = '1.26.4'",
                                   "numpy/lib/__init__.py": """
                                       class NumpyVersion:
                                           def __init__(self, text):
                                               self.major = int(text.split('.')[0])
                                   """,
                                   "numpy/core/__init__.py": "",
                                   "numpy/core/multiarray.py": ""},
                                  "_ARRAY_API"),
}


@pytest.mark.parametrize("files, detail", FAKE_NUMPYS.values(), ids=FAKE_NUMPYS.keys())
def test_unusable_numpy_is_an_internal_fault(tmp_path, files, detail):
    fake_root = fake_numpy(tmp_path / "fake", files)
    result = run_python(CALL_AND_REPORT, path=[fake_root])
    assert result.returncode == 0, result.stderr
    fault, conjugate = result.stdout.splitlines()
    name, base, message = fault.split("|")
    assert (name, base) == ("InternalFault", "BaseException")
    assert message.startswith("Failed to access NumPy array API capsule")
    assert detail in message
    assert conjugate == "conjugate|1.0"


# Each obstacle is set up before tavrin's first array and removed by `clear()` afterwards.
FAILED_NUMPY_IMPORTS = {
    "interrupted": ("""
        import os, signal, time
        class InterruptNumpyImport:
            def find_spec(self, name, path=None, target=None):
                if name == "numpy":
                    os.kill(os.getpid(), signal.SIGINT)
                    time.sleep(5)
                return None
        sys.meta_path.insert(0, InterruptNumpyImport())
        def clear():
            del sys.meta_path[0]
        """, "KeyboardInterrupt"),
    "missing": ("""
        sys.modules["numpy"] = None
        def clear():
            del sys.modules["numpy"]
        """, "ModuleNotFoundError"),
    "raises-on-import": ("""
        class BrokenNumpy:
            def find_spec(self, name, path=None, target=None):
                if name == "numpy":
                    raise ImportError("numpy is broken here")
        sys.meta_path.insert(0, BrokenNumpy())
        def clear():
            del sys.meta_path[0]
        """, "ImportError"),
    "other-error-in-a-submodule": ("""
        class BrokenCore:
            def find_spec(self, name, path=None, target=None):
                if name in ("numpy.core.multiarray", "numpy._core.multiarray"):
                    raise RuntimeError("cannot load the core")
        sys.meta_path.insert(0, BrokenCore())
        def clear():
            del sys.meta_path[0]
        """, "RuntimeError"),
}


@pytest.mark.parametrize("obstacle, exception", FAILED_NUMPY_IMPORTS.values(),
                         ids=FAILED_NUMPY_IMPORTS.keys())
def test_exceptions_of_numpy_imports_propagate_and_the_lookup_is_retried(obstacle, exception):
    result = run_python(
        "import sys\n" + textwrap.dedent(obstacle) + textwrap.dedent(
            """
            import tavrin
            spec = tavrin.CGSpec.from_edges([tavrin.Edge.incoming(tavrin.Spin(2)),
                                             tavrin.Edge.outgoing(tavrin.Spin(2))])
            try:
                tavrin.canonical_basis(spec)
            except BaseException as error:
                print(type(error).__name__, error.__cause__ is None, sep="|")
            clear()
            print(tavrin.canonical_basis(spec).shape)
            """
        )
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [f"{exception}|True", "(3, 3, 1)"]


def test_first_arrays_made_on_many_threads_at_once():
    result = run_python(
        """
        import threading
        import tavrin
        barrier = threading.Barrier(8)
        results = [None] * 8
        def work(k):
            spins = [2 * (k % 3) + 2] * 2
            spec = tavrin.CGSpec.from_edges([tavrin.Edge.incoming(tavrin.Spin(s)) for s in spins])
            barrier.wait()
            results[k] = tavrin.canonical_basis(spec).shape
        threads = [threading.Thread(target=work, args=(k,)) for k in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        print(results)
        """
    )
    assert result.returncode == 0, result.stderr
    shapes = eval(result.stdout)
    assert shapes == [(2 * (k % 3) + 3,) * 2 + (1,) for k in range(8)]
