#!/usr/bin/env bash
# Installs tavrin from this checkout into a virtual environment of its own (build/venv) and runs
# the quick-start example there. System packages (the headers of SQLite, GMP and Eigen) are installed
# with apt-get where they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

missing=()
[ -f /usr/include/sqlite3.h ] || missing+=(libsqlite3-dev)
[ -f /usr/include/gmp.h ] || [ -f /usr/include/x86_64-linux-gnu/gmp.h ] || missing+=(libgmp-dev)
[ -d /usr/include/eigen3 ] || missing+=(libeigen3-dev)
command -v g++ >/dev/null || missing+=(g++)
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

python3 -m venv "$root/build/venv"
"$root/build/venv/bin/python" -m pip install -q --upgrade pip
"$root/build/venv/bin/python" -m pip install -q "$root"
cd "$(mktemp -d)"  # the example's cache lands here, not in the checkout
"$root/build/venv/bin/python" "$root/examples/quickstart.py"
echo "tavrin is installed in $root/build/venv: activate it with 'source build/venv/bin/activate'"
