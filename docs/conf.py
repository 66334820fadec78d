"""Sphinx configuration. The site documents the installed tavrin module (tools/build_docs.sh
installs the wheel); its examples run while it is built, with warnings as errors."""

import atexit
import os
import shutil
import sys
import tempfile
from pathlib import Path

import tavrin

DOCS = Path(__file__).resolve().parent
sys.path.insert(0, str(DOCS / "_ext"))

project = "tavrin"
author = "The tavrin developers"
copyright = "the tavrin developers"
release = tavrin.__version__
version = release

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.napoleon",
    "sphinx.ext.doctest",
    "myst_parser",
    "stub_signatures",
    "docstring_text",
    "api_coverage",
    "cli_help",
    "shell_session",
]

exclude_patterns = ["README.md", "_ext", "tests"]
source_suffix = {".rst": "restructuredtext"}
root_doc = "index"
highlight_language = "text"  # literal blocks are formulas and messages; examples say their language

nitpicky = True
# No inventories of other projects are fetched while building: their types stay unlinked.
nitpick_ignore_regex = [
    ("py:class", r"numpy(\..*)?"),
    ("py:class", r"_Integers"),  # the stubs' private alias: an integer or an array of integers
    ("py:class", r"_Sectors"),  # the stubs' private alias: a mapping or pairs of 2j and multiplicity
]

autodoc_default_options = {"members": True}
napoleon_google_docstring = False
napoleon_numpy_docstring = True
napoleon_use_rtype = False
napoleon_use_param = False  # "two_j1, two_m1, ... : int" stays one entry

html_theme = "furo"
html_title = f"tavrin {release}"
html_static_path = []

# Every example runs against a cache of its own, never the reader's or the builder's.
os.environ["TAVRIN_CACHE_PATH"] = tempfile.mkdtemp(prefix="tavrin-docs-cache-")
atexit.register(shutil.rmtree, os.environ["TAVRIN_CACHE_PATH"], ignore_errors=True)
doctest_global_setup = """
import numpy as np
import tavrin
from tavrin import CGSpec, Contraction, Direction, Edge, Spin
"""
