#!/usr/bin/env bash
# The core, its C++ unit tests and the extension module built with clang
# (Debian's clang-14) instead of g++, warnings as errors, in build/clang;
# then the C++ unit tests, and the module imported and called once.
#
# Run after tools/setup.sh: CMake, Ninja and the interpreter come from its
# virtual environment.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

venv=${PARVENKEL_VENV:-$here/.venv}
build=$here/build/clang
log() { printf 'clang: %s\n' "$*" >&2; }

tools/host-packages.sh clang-14 libxxhash-dev doctest-dev
export PATH="$venv/bin:$PATH"

log "building with $(clang++-14 --version | head -n 1)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
    -DPARVENKEL_BUILD_TESTS=ON -DPARVENKEL_BUILD_MODULE=ON -DPARVENKEL_WERROR=ON \
    -DPython_EXECUTABLE="$venv/bin/python" >/dev/null
cmake --build "$build"

log "C++ unit tests"
"$build/core_tests"

# The package's sources with this module, in a folder of their own, on the
# base interpreter (the virtual environment's editable install would win).
pkg=$(mktemp -d)
trap 'rm -rf "$pkg"' EXIT
cp -R parvenkel "$pkg/"
rm -rf "$pkg"/parvenkel/_core*.so "$pkg"/parvenkel/_corpus*.so "$pkg"/parvenkel/_index*.so \
    "$pkg"/parvenkel/__pycache__
cp "$build"/_core*.so "$build"/_corpus*.so "$build"/_index*.so "$pkg/parvenkel/"
base=$("$venv/bin/python" -c 'import sys; print(sys._base_executable)')
log "the module"
PYTHONPATH=$pkg PYTHONSAFEPATH=1 "$base" - "$pkg" <<'EOF'
import sys
import parvenkel, parvenkel._core, parvenkel._corpus, parvenkel._index
for module in (parvenkel._core, parvenkel._corpus, parvenkel._index):
    assert module.__file__.startswith(sys.argv[1]), module.__file__
    print(module.__file__)
assert parvenkel.extract_keywords("Straße STRASSE straße Überall überall ÜBERALL", [], 2) == [
    ("überall", 3),
    ("straße", 2),
]
assert parvenkel.score_article("ΑΓΟΡΑ news", "", "αγορα") == 1000
EOF
