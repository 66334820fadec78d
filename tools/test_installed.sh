#!/usr/bin/env bash
# Tests an installed tavrin with its test extra (pip install "tavrin[test]"): the quick start,
# then the Python suite, run from a scratch directory so that nothing of the source tree is
# imported in place of the installed package. The interpreter is $1, else `python` on PATH
# (as in cibuildwheel's test command).
#   bash tools/test_installed.sh build/venv-py3.13/bin/python
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
python=${1:-python}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
"$python" -c 'import sys, numpy, tavrin
print("tavrin", tavrin.__version__, "on CPython", sys.version.split()[0],
      "with NumPy", numpy.__version__)'
"$python" "$root/examples/quickstart.py" >/dev/null
"$python" -m pytest -q -p no:cacheprovider "$root/tests/python"
