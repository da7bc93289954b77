#!/usr/bin/env bash
# Sets up the project (tools/setup.sh) and runs every test: the C++ unit
# tests of the text primitives, the Python test suite, both again on a build
# without vector instructions (CMake -DPARVENKEL_SIMD=OFF, in build/scalar:
# the portable scalar paths), and a short fuzzing run of the core
# (tools/fuzz.sh; PARVENKEL_FUZZ_SECONDS, default 60, 0 to replay the known
# inputs only).
# Extra arguments go to pytest (both runs).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

tools/setup.sh
# The tests' own tools: the C++ test framework and the formatter check.
tools/host-packages.sh doctest-dev clang-format
venv=${PARVENKEL_VENV:-$here/.venv}
export PATH="$venv/bin:$PATH"

echo "== clang-format"
git ls-files '*.cpp' '*.hpp' | xargs clang-format --dry-run --Werror

echo "== C++ unit tests"
cmake -S . -B build/cpp -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPARVENKEL_BUILD_TESTS=ON -DPARVENKEL_WERROR=ON >/dev/null
cmake --build build/cpp
build/cpp/core_tests

echo "== C++ unit tests, scalar paths (PARVENKEL_SIMD=OFF)"
# The same folder builds the extension module for the scalar Python run.
cmake -S . -B build/scalar -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPARVENKEL_BUILD_TESTS=ON -DPARVENKEL_BUILD_MODULE=ON -DPARVENKEL_SIMD=OFF \
    -DPARVENKEL_WERROR=ON -DPython_EXECUTABLE="$venv/bin/python" >/dev/null
cmake --build build/scalar
build/scalar/core_tests

echo "== Python tests"
python -m pytest "$@"

echo "== Python tests, scalar build (PARVENKEL_SIMD=OFF)"
# The package's sources with the scalar module, in a folder of their own,
# first on the path of the base interpreter, which sees the virtual
# environment's packages through PYTHONPATH but not its editable install
# (that one's import hook would win over any path). PYTHONSAFEPATH keeps
# the source folder parvenkel/, which has no module, off the path of
# `python -m` and of the interpreters the tests start.
scalar_pkg=$(mktemp -d)
trap 'rm -rf "$scalar_pkg"' EXIT
cp -R parvenkel "$scalar_pkg/"
rm -rf "$scalar_pkg"/parvenkel/_core*.so "$scalar_pkg"/parvenkel/_corpus*.so "$scalar_pkg"/parvenkel/_index*.so \
    "$scalar_pkg"/parvenkel/__pycache__
cp build/scalar/_core*.so build/scalar/_corpus*.so build/scalar/_index*.so "$scalar_pkg/parvenkel/"
base_python=$(python -c 'import sys; print(sys._base_executable)')
site_packages=$(python -c 'import sysconfig; print(sysconfig.get_path("purelib"))')
scalar_env=(env PYTHONPATH="$scalar_pkg:$site_packages" PYTHONSAFEPATH=1 "$base_python")
core=$("${scalar_env[@]}" -c 'import parvenkel._core as m; print(m.__file__)')
echo "parvenkel._core: $core"
case "$core" in
    "$scalar_pkg"/parvenkel/_core*.so) ;;
    *) echo "run-tests: the scalar run imports another build of parvenkel._core" >&2; exit 1 ;;
esac
"${scalar_env[@]}" -m pytest "$@"

echo "== Fuzzing (short run)"
tools/fuzz.sh "${PARVENKEL_FUZZ_SECONDS:-60}"
