"""Signatures with types, taken from the type stubs installed with the module.

The extension's own text signatures name the parameters; the stubs add their types. Module
aliases of the stubs (np, npt) are written out in full; names imported from typing and
collections.abc stay as they are. A function or method the stubs do not know keeps its text
signature.
"""

import ast
from pathlib import Path

import tavrin

MODULE = "tavrin"


def stub_file() -> Path:
    installed = Path(tavrin.__file__).resolve().parent / "tavrin-stubs" / "__init__.pyi"
    if installed.is_file():
        return installed
    return Path(__file__).resolve().parents[2] / "stubs" / "tavrin-stubs" / "__init__.pyi"


class _QualifyImportedNames(ast.NodeTransformer):
    """np.float64 -> numpy.float64, by the stub's imports."""

    def __init__(self, imports: dict[str, str]):
        self.imports = imports

    def visit_Name(self, node: ast.Name) -> ast.AST:
        if node.id in self.imports:
            return ast.parse(self.imports[node.id], mode="eval").body
        return node


def _imports(tree: ast.Module) -> dict[str, str]:
    names = {}
    for node in tree.body:
        if isinstance(node, ast.Import):  # import numpy as np
            for alias in node.names:
                names[alias.asname or alias.name] = alias.name
    return names


def _decorated(function: ast.FunctionDef, decorator: str) -> bool:
    return any(isinstance(d, ast.Name) and d.id == decorator for d in function.decorator_list)


def _signature(function: ast.FunctionDef, bound: bool) -> tuple[str, str | None]:
    """(parameters, return annotation), without self or cls where the call binds them."""
    arguments = function.args
    if bound:
        arguments.posonlyargs, arguments.args = (
            (arguments.posonlyargs[1:], arguments.args) if arguments.posonlyargs
            else ([], arguments.args[1:]))
    returns = ast.unparse(function.returns) if function.returns is not None else None
    return f"({ast.unparse(arguments)})", returns


def read_stub_signatures(path: Path) -> dict[str, tuple[str, str | None]]:
    """Full name -> (parameters, return annotation) for every function, method and class
    constructor of the stubs (properties have none). A class without __new__ or __init__ maps
    to no parameters at all: it is not constructed by calling it."""
    tree = ast.parse(path.read_text())
    tree = _QualifyImportedNames(_imports(tree)).visit(tree)
    signatures: dict[str, tuple[str, str | None]] = {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            signatures[f"{MODULE}.{node.name}"] = _signature(node, bound=False)
        elif isinstance(node, ast.ClassDef):
            signatures[f"{MODULE}.{node.name}"] = ("", None)
            for member in node.body:
                if not isinstance(member, ast.FunctionDef) or _decorated(member, "property"):
                    continue
                if member.name in ("__new__", "__init__"):
                    parameters, _ = _signature(member, bound=True)
                    signatures[f"{MODULE}.{node.name}"] = (parameters, None)
                else:
                    signatures[f"{MODULE}.{node.name}.{member.name}"] = _signature(
                        member, bound=not _decorated(member, "staticmethod"))
    return signatures


def setup(app):
    signatures = read_stub_signatures(stub_file())

    def from_stubs(app, what, name, obj, options, signature, return_annotation):
        return signatures.get(name)

    app.connect("autodoc-process-signature", from_stubs)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
