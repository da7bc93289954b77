#!/usr/bin/env bash
# Sets up the project (tools/setup.sh) and runs every test: the C++ unit
# tests of the text primitives, the Python test suite and a short fuzzing
# run of the core (tools/fuzz.sh; PARVENKEL_FUZZ_SECONDS, default 60, 0 to
# replay the known inputs only).
# Extra arguments go to pytest.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

tools/setup.sh
venv=${PARVENKEL_VENV:-$here/.venv}
export PATH="$venv/bin:$PATH"

echo "== clang-format"
git ls-files '*.cpp' '*.hpp' | xargs clang-format --dry-run --Werror

echo "== C++ unit tests"
cmake -S . -B build/cpp -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPARVENKEL_BUILD_TESTS=ON -DPARVENKEL_WERROR=ON >/dev/null
cmake --build build/cpp
build/cpp/core_tests

echo "== Python tests"
python -m pytest "$@"

echo "== Fuzzing (short run)"
tools/fuzz.sh "${PARVENKEL_FUZZ_SECONDS:-60}"
