#!/usr/bin/env bash
# Builds the documentation site from the given tavrin wheel: installs docs/requirements.txt and
# the wheel into a venv of its own (build/venv-docs), checks that the site's own checks catch
# what they are for, builds the HTML with warnings as errors (nitpicky; every shell example
# runs), then runs every Python example of the pages and the docstrings. Prints where the site is.
#   bash tools/build_docs.sh build/wheelhouse/tavrin-*manylinux*.whl
set -euo pipefail
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  echo "usage: bash tools/build_docs.sh WHEEL   (a built tavrin wheel)" >&2
  exit 2
fi
wheel=$(realpath "$1")
cd "$(dirname "$0")/.."
root=$PWD
venv=$root/build/venv-docs
out=$root/build/docs
start=$SECONDS
scratch=$(mktemp -d)  # the working directory of the builds: nothing lands in the source tree
trap 'rm -rf "$scratch"' EXIT

python3 -m venv "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip >/dev/null
"$venv/bin/python" -m pip install -q -r docs/requirements.txt
"$venv/bin/python" -m pip install -q --force-reinstall --no-deps "$wheel"
"$venv/bin/python" -m pip install -q "$wheel"  # its dependencies (NumPy, tqdm)

echo "== documentation checks"
(cd "$scratch" && "$venv/bin/python" -m pytest -q -p no:cacheprovider "$root/docs/tests")

echo "== documentation: HTML with warnings as errors, then every example"
rm -rf "$out"
(cd "$scratch" && "$venv/bin/sphinx-build" -q -b html -W --keep-going -n -E \
  -d "$out/doctrees" "$root/docs" "$out/html")
(cd "$scratch" && "$venv/bin/sphinx-build" -q -b doctest -W --keep-going -n \
  -d "$out/doctrees" "$root/docs" "$out/doctest")
grep -E '^ +[0-9]+ (tests|failures in tests)$' "$out/doctest/output.txt" | tr -s ' ' | tr '\n' ';' \
  | sed 's/;$/\n/'
echo "documentation built in $((SECONDS - start)) s: $out/html/index.html"
