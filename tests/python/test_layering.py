"""The source tree keeps its layers: every include points to the same folder or a lower one,
only the binding and module folders see Python.h, and CMake lists every source file."""

import re
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
SRC = ROOT / "src"

# From the bottom layer up.
LAYERS = ["support", "core", "coupling", "specs", "tensor", "cache", "basis", "recoupling", "symbols", "blocks", "bindings", "module"]
PYTHON_FOLDERS = {"bindings", "module"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.MULTILINE)

pytestmark = pytest.mark.skipif(not SRC.is_dir(), reason="needs the source tree")


def sources():
    return sorted(p for p in SRC.rglob("*") if p.suffix in {".hpp", ".cpp"})


def folder_of(path):
    return path.relative_to(SRC).parts[0]


def test_every_folder_is_a_known_layer():
    assert {folder_of(p) for p in sources()} <= set(LAYERS)


@pytest.mark.parametrize("path", sources(), ids=lambda p: str(p.relative_to(SRC)))
def test_includes_point_down(path):
    folder = folder_of(path)
    for bracket, name in INCLUDE.findall(path.read_text()):
        if name == "Python.h":
            assert folder in PYTHON_FOLDERS, f"{name} included outside the Python folders"
        if bracket == '"':
            target = name.split("/")[0]
            assert target in LAYERS, f"{name}: not a folder of src"
            assert LAYERS.index(target) <= LAYERS.index(folder), f"{name} is a higher layer than {folder}"


def test_cmake_lists_every_source_file():
    listed = set(re.findall(r"\bsrc/[\w/]+\.cpp\b", (ROOT / "CMakeLists.txt").read_text()))
    listed |= set(re.findall(r"\bsrc/[\w/]+\.cpp\b", (ROOT / "cmake" / "module.cmake").read_text()))
    present = {str(p.relative_to(ROOT)) for p in sources() if p.suffix == ".cpp"}
    assert listed == present


def test_readme_lists_the_layers_in_order():
    readme = (ROOT / "README.md").read_text()
    layout = readme.split("## Layout", 1)[1].split("\n## ", 1)[0]
    assert re.findall(r"^\| `src/(\w+)` \|", layout, re.MULTILINE) == LAYERS
