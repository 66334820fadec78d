#!/usr/bin/env bash
# Builds the Linux wheel on this machine and repairs it for manylinux_2_28: compiled by zig's
# clang against the symbols of glibc 2.28 (tools/zig-c++), with libc++ linked in, GNU MP
# grafted into tavrin.libs/ by auditwheel. Fails unless auditwheel names manylinux_2_28 or an
# older tag. Prints the repaired wheel's path last.
#   wheel=$(bash tools/build_wheel.sh | tail -n 1)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
arch=$(uname -m)
venv=$root/build/venv-wheel

first_file() {  # the first of the given paths that exists
  for path in "$@"; do [ -f "$path" ] && { echo "$path"; return; }; done
  echo "none of $* exists" >&2
  return 1
}

python3 -m venv "$venv"
"$venv/bin/python" -m pip install -q --upgrade pip >/dev/null
"$venv/bin/python" -m pip install -q -r tools/wheel-requirements.txt
TAVRIN_ZIG=$("$venv/bin/python" -c 'import pathlib, ziglang
print(pathlib.Path(ziglang.__file__).with_name("zig"))')
export TAVRIN_ZIG

# Only the headers of GMP and SQLite, copied apart: the system's include directories
# hold its own glibc's headers, which must not come before zig's of glibc 2.28.
include=$root/build/wheel-include
rm -rf "$include" && mkdir -p "$include"
cp "$(first_file /usr/include/gmp.h "/usr/include/$arch-linux-gnu/gmp.h")" /usr/include/sqlite3.h \
  "$include/"
gmp=$(first_file "/usr/lib/$arch-linux-gnu/libgmp.so" /usr/lib64/libgmp.so /usr/lib/libgmp.so)
defines=(-C "cmake.define.GMP_INCLUDE_DIR=$include" -C "cmake.define.GMP_LIBRARY=$gmp"
         -C "cmake.define.SQLITE3_INCLUDE_DIR=$include")
# The module unwinds with the system's libgcc_s, not the libunwind zig would link in: glibc's
# pthread_exit unwinds a thread's frames with libgcc_s, and every frame's personality routine
# must speak to the unwinder that walks it.
unwinder=$(first_file "/lib/$arch-linux-gnu/libgcc_s.so.1" /lib64/libgcc_s.so.1 \
  /usr/lib64/libgcc_s.so.1)

rm -rf build/dist build/wheelhouse
"$venv/bin/python" -m pip wheel -q --no-deps --no-build-isolation -w build/dist \
  -C build-dir=build/wheel-cmake \
  -C cmake.define.CMAKE_CXX_COMPILER="$root/tools/zig-c++" \
  -C cmake.define.CMAKE_MODULE_LINKER_FLAGS="$unwinder" \
  -C cmake.define.TAVRIN_WARNINGS_AS_ERRORS=ON "${defines[@]}" .
PATH="$venv/bin:$PATH" auditwheel repair --plat "manylinux_2_28_$arch" -w build/wheelhouse \
  build/dist/tavrin-*.whl >build/auditwheel.log 2>&1 || { cat build/auditwheel.log; exit 1; }
wheel=$(ls build/wheelhouse/tavrin-*manylinux*.whl)
shown=$("$venv/bin/auditwheel" show "$wheel" | tr '\n' ' ' | tr -s ' ')
tag=$(grep -o 'platform tag: "[^"]*"' <<<"$shown" | head -n 1)
echo "auditwheel: $tag"
glibc_minor=$(grep -o 'manylinux_2_[0-9]*' <<<"$tag" | head -n 1 | cut -d_ -f3)
if [ -z "$glibc_minor" ] || [ "$glibc_minor" -gt 28 ]; then
  echo "the wheel needs more than manylinux_2_28: $shown" >&2
  exit 1
fi
echo "$root/$wheel"
