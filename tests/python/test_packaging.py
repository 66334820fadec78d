"""The installed distribution: its version, licence files and metadata."""

from importlib.metadata import distribution
from pathlib import Path

import tavrin

DIST = distribution("tavrin")
MODULE = Path(tavrin.__file__)

# What a wheel may carry besides tavrin's own code -- shared libraries beside the module (known
# by how their names start) and code compiled into it (known by a string it holds) -- with the
# licence the metadata must name for each and the texts that must come with it.
BESIDE = {"libgmp-": ("(LGPL-3.0-or-later OR GPL-2.0-or-later)",
                      {"GMP-LGPL-3.0.txt", "GMP-GPL-3.0.txt", "GMP-GPL-2.0.txt"})}
INSIDE = {b"libc++abi: ": ("Apache-2.0 WITH LLVM-exception",
                           {"LLVM-Apache-2.0-WITH-LLVM-exception.txt"})}


def assert_licence_named_and_installed(licence, texts):
    assert licence in DIST.metadata["License-Expression"]
    assert texts <= {path.name for path in DIST.files or []}


def test_version_comes_from_the_distribution_and_stays_out_of_all():
    assert tavrin.__version__ == DIST.version
    assert "__version__" not in tavrin.__all__


def test_licence_texts_are_installed_with_the_package():
    installed = {path.name for path in DIST.files or []}
    assert {"LICENSE", "GMP-LGPL-3.0.txt", "GMP-GPL-3.0.txt", "GMP-GPL-2.0.txt"} <= installed
    licence = next(p for p in DIST.files if p.name == "LICENSE").read_text()
    assert licence.startswith("MIT License")


def test_every_library_beside_the_module_has_its_licence_named_and_installed():
    libraries = [path.name for path in DIST.files or [] if path.parent.name == "tavrin.libs"]
    for library in libraries:  # none in a build from source
        known = [prefix for prefix in BESIDE if library.startswith(prefix)]
        assert known, f"{library}: the wheel carries a library whose licence is not listed"
        assert_licence_named_and_installed(*BESIDE[known[0]])


def test_code_compiled_into_the_module_has_its_licence_named_and_installed():
    module = MODULE.read_bytes()
    for marker, (licence, texts) in INSIDE.items():
        if marker in module:
            assert_licence_named_and_installed(licence, texts)


def test_metadata_names_licence_python_versions_and_typing():
    metadata = DIST.metadata
    assert metadata["License-Expression"].startswith("MIT AND ")  # tavrin's own, first
    classifiers = metadata.get_all("Classifier")
    assert "Typing :: Typed" in classifiers
    assert "Programming Language :: Python :: 3.11" in classifiers
    assert metadata["Requires-Python"] == ">=3.11"
