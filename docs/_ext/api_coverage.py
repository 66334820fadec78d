"""Every public name of the module has its entry in the API reference.

After all pages are read, each name in tavrin.__all__ must be documented by an autodoc
directive somewhere; a missing one is a warning, so the build (warnings as errors) fails until
the reference lists it.
"""

from sphinx.util import logging

import tavrin

logger = logging.getLogger(__name__)


def check_every_public_name(app, env):
    documented = set(env.get_domain("py").objects)
    for name in tavrin.__all__:
        if f"tavrin.{name}" not in documented:
            logger.warning(
                "tavrin.%s is public but has no entry in the API reference: add "
                "'.. auto%s:: tavrin.%s' to docs/api.rst", name,
                "class" if isinstance(getattr(tavrin, name), type) else "function", name,
                type="tavrin", subtype="api")


def setup(app):
    app.connect("env-check-consistency", check_every_public_name)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
