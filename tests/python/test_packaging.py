"""The installed distribution: its version, licence files and metadata."""

from importlib.metadata import distribution

import tavrin

DIST = distribution("tavrin")


def test_version_comes_from_the_distribution_and_stays_out_of_all():
    assert tavrin.__version__ == DIST.version
    assert "__version__" not in tavrin.__all__


def test_licence_texts_are_installed_with_the_package():
    installed = {path.name for path in DIST.files or []}
    assert {"LICENSE", "GMP-LGPL-3.0.txt", "GMP-GPL-3.0.txt", "GMP-GPL-2.0.txt"} <= installed
    licence = next(p for p in DIST.files if p.name == "LICENSE").read_text()
    assert licence.startswith("MIT License")


def test_metadata_names_licence_python_versions_and_typing():
    metadata = DIST.metadata
    assert metadata["License-Expression"] == "MIT"
    classifiers = metadata.get_all("Classifier")
    assert "Typing :: Typed" in classifiers
    assert "Programming Language :: Python :: 3.11" in classifiers
    assert metadata["Requires-Python"] == ">=3.11"
