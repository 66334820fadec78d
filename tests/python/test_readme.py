"""The tutorial in the README runs as written and prints what its comments say."""

import contextlib
import io
import re
from pathlib import Path

README = Path(__file__).resolve().parents[2] / "README.md"


def tutorial_blocks():
    return re.findall(r"```python\n(.*?)```", README.read_text(), flags=re.S)


def test_tutorial_runs_and_prints_what_it_says():
    namespace = {}
    for block in tutorial_blocks():
        output = io.StringIO()
        with contextlib.redirect_stdout(output):
            exec(compile(block, str(README), "exec"), namespace)
        printed = output.getvalue().splitlines()
        promised = [
            line.split("#", 1)[1].split(":", 1)[0].strip()
            for line in block.splitlines()
            if line.startswith("print(") and "#" in line
        ]
        assert len(printed) == len(promised)
        for got, expected in zip(printed, promised):
            assert got == expected
