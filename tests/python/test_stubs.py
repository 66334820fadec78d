"""The installed type stubs describe the module as it is, and type checkers find them."""

import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

pytest.importorskip("mypy")


def run(args, cwd):
    return subprocess.run(
        [sys.executable, "-m", *args], cwd=cwd, capture_output=True, text=True, timeout=600
    )


def test_stubtest_agrees_with_the_module(tmp_path):
    allowlist = Path(__file__).with_name("stubtest_allowlist.txt")
    result = run(["mypy.stubtest", "tavrin", "--allowlist", str(allowlist)], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_user_script_type_checks(tmp_path):
    script = tmp_path / "user_script.py"
    script.write_text(
        textwrap.dedent(
            """
            import numpy as np
            import numpy.typing as npt
            import tavrin
            from tavrin import CGSpec, Contraction, Edge, Spin

            half = Spin(1)
            spec: CGSpec = CGSpec.from_edges([Edge.incoming(half), Edge.outgoing(half)])
            basis: npt.NDArray[np.float64] = tavrin.canonical_basis(spec)
            x, c = tavrin.compute_xsymbol(spec, spec, Contraction([1], [0]))
            r, permuted = tavrin.compute_rsymbol(spec, [1, 0])
            phase, conj = tavrin.compute_conjugate(spec)
            total: float = phase * tavrin.fs_phase_for_spin(half) + half.value()
            spins: list[int] = c.get_spins() + permuted.get_spins() + conj.get_directions()
            six_j: float = tavrin.wigner_6j(2, 2, 2, 2, 2, np.int64(2)) + tavrin.wigner_3j(
                2, 2, 0, 2, -2, 0)
            nine_j: npt.NDArray[np.float64] = tavrin.wigner_9j(1, 1, 2, 1, 1, 2, 2, 2, [0, 4])
            cg: npt.NDArray[np.float64] = tavrin.clebsch_gordan(1, np.array([1, -1]), 1, -1, 0, 0)
            """
        )
    )
    result = run(["mypy", "--strict", "--no-incremental", str(script)], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr

    broken = tmp_path / "broken_script.py"
    broken.write_text("import tavrin\ntavrin.canonical_basis(3)\n")
    result = run(["mypy", "--no-incremental", str(broken)], tmp_path)
    assert result.returncode == 1
    assert 'incompatible type "int"' in result.stdout
