"""Shell examples that run while the documentation is built.

    .. shell-session::

       $ tavrin cache info
       path:         .../.tavrin/cgbasis.db
       ...

Each ``$`` line is run by bash; what it prints (standard output and error together) must match
the lines below it, where ``...`` stands for any text, as in doctests. A command that prints
something else or exits with a non-zero status is a warning, which fails the build (warnings
as errors). The commands of one page share a working directory of their own, made empty for
the page, in which the library's default cache directory ``.tavrin/`` lies; ``examples/`` there
is the repository's examples folder, and the tools installed beside the Python running Sphinx
come first on the PATH.
"""

import doctest
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

from docutils import nodes
from sphinx.util import logging
from sphinx.util.docutils import SphinxDirective

logger = logging.getLogger(__name__)
PROMPT = "$ "
EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
TIMEOUT_SECONDS = 300
CHECKER = doctest.OutputChecker()
MATCHING = doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE


def sessions(lines: list[str]) -> list[tuple[str, str]]:
    """(command, expected output) for each prompt line and the lines after it."""
    found: list[tuple[str, list[str]]] = []
    for line in lines:
        if line.startswith(PROMPT):
            found.append((line[len(PROMPT):], []))
        elif found:
            found[-1][1].append(line)
        elif line.strip():
            raise ValueError(f"output before the first '{PROMPT.strip()}' command: {line!r}")
    return [(command, "\n".join(output).strip() + "\n") for command, output in found]


def page_directory(env) -> Path:
    """The working directory of the current page's commands, made on first need and removed
    once the page is read."""
    if "tavrin_shell_directory" not in env.temp_data:
        directory = Path(tempfile.mkdtemp(prefix=f"tavrin-docs-page-{env.docname}-"))
        (directory / "examples").symlink_to(EXAMPLES, target_is_directory=True)
        env.temp_data["tavrin_shell_directory"] = directory
    return env.temp_data["tavrin_shell_directory"]


def command_environment() -> dict[str, str]:
    environment = {key: value for key, value in os.environ.items()
                   if key != "TAVRIN_CACHE_PATH"}
    tools = str(Path(sys.executable).parent)
    environment["PATH"] = os.pathsep.join([tools, environment.get("PATH", "")])
    environment["COLUMNS"] = "92"
    return environment


class ShellSession(SphinxDirective):
    has_content = True

    def run(self) -> list[nodes.Node]:
        try:
            steps = sessions(list(self.content))
        except ValueError as error:
            logger.warning("%s", error, location=self.get_location())
            return []
        directory = page_directory(self.env)
        for command, expected in steps:
            self.check(command, expected, directory)
        text = "\n".join(self.content)
        return [nodes.literal_block(text, text, language="console")]

    def check(self, command: str, expected: str, directory: Path) -> None:
        try:
            done = subprocess.run(["bash", "-c", command], cwd=directory,
                                  env=command_environment(), stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                  timeout=TIMEOUT_SECONDS)
        except subprocess.TimeoutExpired:
            logger.warning("'%s' ran longer than %d s", command, TIMEOUT_SECONDS,
                           location=self.get_location())
            return
        if done.returncode != 0:
            logger.warning("'%s' exited with status %d:\n%s", command, done.returncode,
                           done.stdout, location=self.get_location())
        elif not CHECKER.check_output(expected, done.stdout, MATCHING):
            logger.warning("'%s' printed\n%s\ninstead of\n%s", command, done.stdout, expected,
                           location=self.get_location())


def remove_page_directory(app, doctree):
    directory = app.env.temp_data.pop("tavrin_shell_directory", None)
    if directory is not None:
        shutil.rmtree(directory, ignore_errors=True)


def setup(app):
    app.add_directive("shell-session", ShellSession)
    app.connect("doctree-read", remove_page_directory)
    return {"parallel_read_safe": False, "parallel_write_safe": True}
