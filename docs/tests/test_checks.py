"""The site's checks fail the build on what they are for: a wrong example output, a failing
shell example, a public name or a command left out of the pages. Each case builds a one-page
site with the documentation's own configuration and looks for its complaint: a warning, which
the real build (warnings as errors) turns into a failure, or a failed example."""

import subprocess
import sys
from pathlib import Path

import pytest

DOCS = Path(__file__).resolve().parents[1]
SPHINX_BUILD = Path(sys.executable).parent / "sphinx-build"


def build(tmp_path: Path, page: str, builder: str = "html") -> subprocess.CompletedProcess:
    """Warnings are not errors here: this page leaves out most of the API reference."""
    source = tmp_path / "source"
    source.mkdir()
    (source / "index.rst").write_text(page)
    return subprocess.run(
        [SPHINX_BUILD, "-q", "-b", builder, "-n", "-c", DOCS, source, tmp_path / "out"],
        cwd=tmp_path, capture_output=True, text=True)


WRONG_HTML_PAGES = [
    pytest.param("Page\n====\n\n.. shell-session::\n\n   $ echo 2\n   3\n",
                 "'echo 2' printed", id="shell output differs"),
    pytest.param("Page\n====\n\n.. shell-session::\n\n   $ false\n",
                 "'false' exited with status 1", id="shell command fails"),
    pytest.param("Page\n====\n\n.. shell-session::\n\n   3\n   $ echo 3\n",
                 "output before the first '$' command", id="shell output without command"),
    pytest.param("Page\n====\n\n.. tavrin-help:: cache nonexistent\n",
                 "'tavrin cache nonexistent' is not a command", id="unknown command"),
    pytest.param("Page\n====\n\n.. autofunction:: tavrin.wigner_6j\n",
                 "tavrin.canonical_basis is public but has no entry in the API reference",
                 id="public name left out"),
    pytest.param("Page\n====\n\n.. tavrin-help:: cache\n",
                 "'tavrin cache prebuild' has no --help text", id="command left out"),
]


@pytest.mark.parametrize("page, complaint", WRONG_HTML_PAGES)
def test_wrong_page_is_a_warning_so_the_strict_build_fails(tmp_path, page, complaint):
    done = build(tmp_path, page)
    assert any("WARNING" in line and complaint in line for line in done.stderr.splitlines()), \
        done.stderr


def test_wrong_python_output_fails_the_example_run(tmp_path):
    done = build(tmp_path, "Page\n====\n\n>>> 1 + 1\n3\n", "doctest")
    assert done.returncode != 0
    assert "1 failure in tests" in (tmp_path / "out" / "output.txt").read_text()


def test_matching_examples_pass_and_signatures_carry_the_stub_types(tmp_path):
    page = ("Page\n====\n\n.. shell-session::\n\n   $ echo 'a  long line'\n   a ... line\n"
            "   $ tavrin --version\n   tavrin ...\n\n"
            ">>> tavrin.wigner_6j(2, 2, 2, 2, 2, 2)\n0.16666666666666666\n\n"
            ".. autofunction:: tavrin.compute_xsymbol\n")
    done = build(tmp_path, page)
    # The completeness checks and the links to classes this page leaves out complain; nothing
    # on the page itself does.
    assert "index.rst" not in done.stderr, done.stderr
    html = (tmp_path / "out" / "index.html").read_text()
    for shown in ["spec_a", "CGSpec", "Literal", "recoupling", "NDArray"]:
        assert shown in html
    examples = tmp_path / "examples"
    examples.mkdir()
    assert build(examples, page, "doctest").returncode == 0
    assert "0 failures in tests" in (examples / "out" / "output.txt").read_text()
