"""The module's docstrings, written for help(), read as reStructuredText.

The docstrings set formulas apart as indented blocks in the text above their first section
(``X[a, b, c] = sum of ...``, ``R[a, b] = <a|b'>``) and write states as ``|a>``. Read as
reStructuredText those blocks would be quotations and the bars substitution references; here
the blocks become literal blocks and the bars stay bars, as help() shows them. A Parameters
section that says only "None" (methods without arguments) is left out.
"""

import re

SECTION_UNDERLINE = re.compile(r"^-{3,}\s*$")


def _first_section(lines: list[str]) -> int:
    for number in range(1, len(lines)):
        if SECTION_UNDERLINE.match(lines[number]) and lines[number - 1].strip():
            return number - 1
    return len(lines)


def literal_formulas(app, what, name, obj, options, lines):
    """In the text above the first section: bars outside formulas escaped, and the paragraph
    before each formula (an indented block) ended with ' ::'."""
    for number in range(_first_section(lines)):
        if not lines[number].startswith(" "):
            lines[number] = lines[number].replace("|", "\\|")
        if number < 2 or not lines[number].startswith(" "):
            continue
        if not lines[number - 1].strip() and lines[number - 2].strip():  # a block begins
            lines[number - 2] += " ::"


def drop_empty_parameters(app, what, name, obj, options, lines):
    for number in range(len(lines) - 2):
        if (lines[number], lines[number + 2].strip()) == ("Parameters", "None") and \
                SECTION_UNDERLINE.match(lines[number + 1]):
            end = number + 3
            while end < len(lines) and not lines[end].strip():
                end += 1
            del lines[number:end]
            return


def setup(app):
    # Before napoleon (priority 500) turns the sections into reStructuredText fields.
    app.connect("autodoc-process-docstring", literal_formulas, priority=400)
    app.connect("autodoc-process-docstring", drop_empty_parameters, priority=400)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
