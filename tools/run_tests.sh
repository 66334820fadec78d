#!/usr/bin/env bash
# Installs what the tests need and runs every test: C++ (GoogleTest via CTest) and Python
# (pytest, type stubs) from the manylinux wheel built here, under the oldest CPython with
# NumPy 1.x and the newest with NumPy 2.x; then the documentation from that wheel.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${TAVRIN_JOBS:-2}
section() { echo "== $1 (at $SECONDS s)"; }

# System packages: headers for SQLite, GMP and Eigen, GoogleTest.
missing=()
[ -f /usr/include/sqlite3.h ] || missing+=(libsqlite3-dev)
[ -f /usr/include/gmp.h ] || [ -f /usr/include/x86_64-linux-gnu/gmp.h ] || missing+=(libgmp-dev)
[ -d /usr/include/eigen3 ] || missing+=(libeigen3-dev)
[ -d /usr/include/gtest ] || missing+=(libgtest-dev)
command -v ninja >/dev/null || missing+=(ninja-build)
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

section "C++ tests"
cmake -S . -B build/cpp-tests -G Ninja -DTAVRIN_BUILD_TESTS=ON -DTAVRIN_BUILD_MODULE=OFF \
  -DTAVRIN_BUILD_BENCHMARKS=ON -DTAVRIN_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build/cpp-tests -j "$jobs"
ctest --test-dir build/cpp-tests -j "$jobs" --output-on-failure

if [ "${TAVRIN_SKIP_SANITIZERS:-0}" != 1 ]; then
  section "C++ tests under AddressSanitizer and UndefinedBehaviorSanitizer"
  cmake -S . -B build/cpp-sanitized -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVRIN_SANITIZE=ON \
    -DTAVRIN_BUILD_TESTS=ON -DTAVRIN_BUILD_MODULE=OFF -DTAVRIN_WARNINGS_AS_ERRORS=ON >/dev/null
  cmake --build build/cpp-sanitized -j "$jobs"
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build/cpp-sanitized -j "$jobs" --output-on-failure
fi

section "Python package: the manylinux wheel, built here"
bash tools/build_wheel.sh | tee build/wheel.log
wheel=$(tail -n 1 build/wheel.log)

# Only the repaired wheel and binary wheels of its dependencies: no compiler, CMake or headers.
rm -rf build/venv-fresh
python3 -m venv build/venv-fresh
build/venv-fresh/bin/python -m pip install -q --only-binary=:all: "$wheel"
(cd "$(mktemp -d)" && "$root/build/venv-fresh/bin/python" "$root/examples/quickstart.py" >/dev/null)
echo "quick start runs from the repaired wheel"

python_for() {  # the CPython $1 of this machine: pyenv's, else python$1 on PATH
  local prefix
  if prefix=$(pyenv prefix "$1" 2>/dev/null); then
    echo "$prefix/bin/python$1"
  else
    command -v "python$1"
  fi
}

run_python_suite() {  # $1: CPython version, $2: NumPy requirement
  local venv=$root/build/venv-py$1
  "$(python_for "$1")" -m venv "$venv"
  "$venv/bin/python" -m pip install -q --upgrade pip >/dev/null
  "$venv/bin/python" -m pip install -q --only-binary=:all: "$2" "tavrin[test] @ file://$wheel"
  "$venv/bin/python" -m pip install -q --force-reinstall --no-deps "$wheel"
  bash tools/test_installed.sh "$venv/bin/python"
}

section "Python tests: the oldest CPython here with NumPy 1.x"
run_python_suite 3.11 "numpy<2"
section "Python tests: the newest CPython here with NumPy 2.x"
run_python_suite 3.13 "numpy>=2"

section "Documentation"
bash tools/build_docs.sh "$wheel"
echo "== all tests passed in $SECONDS s"
