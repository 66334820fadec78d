"""The command-line tool's --help texts, generated from its own argument parser.

``.. tavrin-help:: cache prebuild`` shows what ``tavrin cache prebuild --help`` prints, so the
page cannot drift from the tool. After all pages are read, every command of the parser must be
shown somewhere; a missing one is a warning, which fails the build (warnings as errors).
"""

import argparse
import os
from collections.abc import Iterator
from contextlib import contextmanager

from docutils import nodes
from sphinx.util import logging
from sphinx.util.docutils import SphinxDirective

from tavrin_cli.main import build_parser

logger = logging.getLogger(__name__)
HELP_WIDTH = 92  # columns argparse wraps the help texts to


def commands(parser: argparse.ArgumentParser, path: tuple[str, ...] = ()
             ) -> Iterator[tuple[tuple[str, ...], argparse.ArgumentParser]]:
    """Every command of the tool with its parser, the tool itself first (the empty path)."""
    yield path, parser
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            for name, subparser in action.choices.items():
                yield from commands(subparser, (*path, name))


@contextmanager
def terminal_width(columns: int):
    saved = os.environ.get("COLUMNS")
    os.environ["COLUMNS"] = str(columns)
    try:
        yield
    finally:
        if saved is None:
            del os.environ["COLUMNS"]
        else:
            os.environ["COLUMNS"] = saved


def help_text(path: tuple[str, ...]) -> str | None:
    with terminal_width(HELP_WIDTH):
        for found, parser in commands(build_parser()):
            if found == path:
                return parser.format_help()
    return None


class TavrinHelp(SphinxDirective):
    """The --help text of one command: its words after 'tavrin', none for the tool itself."""

    optional_arguments = 1
    final_argument_whitespace = True

    def run(self) -> list[nodes.Node]:
        path = tuple(self.arguments[0].split()) if self.arguments else ()
        text = help_text(path)
        if text is None:
            logger.warning("'tavrin %s' is not a command of the tool", " ".join(path),
                           location=self.get_location(), type="tavrin", subtype="cli")
            return []
        self.env.tavrin_cli_shown = getattr(self.env, "tavrin_cli_shown", {})
        self.env.tavrin_cli_shown[path] = self.env.docname
        command = " ".join(("tavrin", *path, "--help"))
        block = nodes.literal_block(text, f"$ {command}\n{text}", language="console")
        return [block]


def forget_document(app, env, docname):
    shown = getattr(env, "tavrin_cli_shown", {})
    for path in [path for path, where in shown.items() if where == docname]:
        del shown[path]


def check_every_command(app, env):
    shown = getattr(env, "tavrin_cli_shown", {})
    for path, _ in commands(build_parser()):
        if path not in shown:
            logger.warning("'%s' has no --help text in the documentation: add "
                           "'.. tavrin-help:: %s' to docs/cli.rst", " ".join(("tavrin", *path)),
                           " ".join(path), type="tavrin", subtype="cli")


def setup(app):
    app.add_directive("tavrin-help", TavrinHelp)
    app.connect("env-purge-doc", forget_document)
    app.connect("env-check-consistency", check_every_command)
    return {"parallel_read_safe": False, "parallel_write_safe": True}
