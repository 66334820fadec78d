"""The tool's failures, each reported in one line by the command line's edge (main)."""


class CacheToolError(Exception):
    """A failure the tool reports in one line before it exits with status 1."""


class RequestError(CacheToolError):
    """A request that cannot be carried out as given (nothing to build, too much to go through):
    reported with the command's usage, exit status 2, like an argument that does not parse."""
