#!/usr/bin/env bash
# The package on another processor, aarch64 (64-bit ARM), under qemu:
#
#   1. the core and its C++ unit tests, cross-compiled with Debian's
#      g++-aarch64-linux-gnu, run under qemu-aarch64;
#   2. CPython 3.14 for arm64, unpacked from Debian's unstable suite into a
#      private root (~/.cache/parvenkel/cpython-3.14-arm64, with apt state
#      of its own), the extension modules cross-compiled against it, and the
#      Python tests run on that interpreter under qemu.
#
#   tools/test-aarch64.sh [PYTEST ARGS...]
#
# Without arguments pytest runs the tests of the modules, of keyword
# extraction, of scoring and of the corpus functions (about six minutes; the
# whole suite would take more than twice that under emulation). Run after tools/setup.sh: CMake, Ninja and pip come from its
# virtual environment.
#
# The interpreter runs through a small virtual environment in
# build/aarch64/venv whose bin/python is a script that starts qemu with that
# very path as the program name, so that sys.executable is the script and
# the interpreters the tests start run under qemu too.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

venv=${PARVENKEL_VENV:-$here/.venv}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/parvenkel
root=$cache/cpython-3.14-arm64
build=$here/build/aarch64
triplet=aarch64-linux-gnu

log() { printf 'aarch64: %s\n' "$*" >&2; }

tools/host-packages.sh g++-$triplet qemu-user libxxhash-dev doctest-dev file
export PATH="$venv/bin:$PATH"
qemu=(qemu-aarch64 -L "$root")

# The module needs the C++ runtime besides the interpreter.
packages="python3.14 python3.14-dev libstdc++6"
if [ "$(cat "$root/.parvenkel-ready" 2>/dev/null || true)" != "$packages" ]; then
    log "unpacking CPython 3.14 for arm64 into $root"
    rm -rf "$root"
    # shellcheck disable=SC2086
    PARVENKEL_APT_ARCH=arm64 tools/sid-unpack.sh "$root" $packages
    # The packages expect a merged /usr, which dpkg -x does not create.
    ln -s usr/lib "$root/lib"
    ln -s usr/bin "$root/bin"
    # The multiarch header in place of the one that only forwards to it.
    cp "$root/usr/include/$triplet/python3.14/pyconfig.h" "$root/usr/include/python3.14/pyconfig.h"
    "${qemu[@]}" "$root/usr/bin/python3.14" -c 'import decimal, ctypes' >/dev/null
    echo "$packages" >"$root/.parvenkel-ready"
fi

pyenv=$build/venv
python=$pyenv/bin/python
mkdir -p "$pyenv/bin" "$pyenv/lib/python3.14/site-packages"
cat >"$pyenv/pyvenv.cfg" <<EOF
home = $root/usr/bin
include-system-site-packages = false
version = 3.14
EOF
cat >"$python" <<EOF
#!/bin/sh
exec qemu-aarch64 -L "$root" -0 "$python" "$root/usr/bin/python3.14" "\$@"
EOF
chmod +x "$python"
[ "$("$python" -c 'import platform; print(platform.machine())')" = aarch64 ] ||
    { log "$python does not run as aarch64"; exit 1; }

# The test requirements are pure Python: the host's pip puts them in place.
stamp=$pyenv/.requirements
wanted="pytest>=8 hypothesis>=6"
if [ "$(cat "$stamp" 2>/dev/null || true)" != "$wanted" ]; then
    log "installing $wanted"
    # shellcheck disable=SC2086
    "$venv/bin/python" -m pip install -q --target "$pyenv/lib/python3.14/site-packages" --upgrade \
        --platform manylinux2014_aarch64 --implementation cp --python-version 3.14 \
        --only-binary=:all: $wanted >&2
    echo "$wanted" >"$stamp"
fi

log "building the core, its C++ unit tests and the module"
cmake -S . -B "$build/cmake" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64 \
    -DCMAKE_CXX_COMPILER=$triplet-g++ \
    -DPARVENKEL_BUILD_TESTS=ON -DPARVENKEL_BUILD_MODULE=ON -DPARVENKEL_WERROR=ON \
    -DPython_EXECUTABLE="$python" -DPython_INCLUDE_DIR="$root/usr/include/python3.14" >/dev/null
cmake --build "$build/cmake"
for module in _core _corpus _index; do
    file -L "$build/cmake/$module.so" | grep -q 'ARM aarch64' ||
        { log "$build/cmake/$module.so is not an aarch64 library"; exit 1; }
done

log "C++ unit tests under qemu"
qemu-aarch64 -L /usr/$triplet "$build/cmake/core_tests"

# The package's sources with the aarch64 modules, in a folder of their own;
# PYTHONSAFEPATH keeps the source folder parvenkel/, which has no module for
# this processor, off the path.
pkg=$build/package
rm -rf "$pkg"
mkdir -p "$pkg"
cp -R parvenkel "$pkg/"
rm -rf "$pkg"/parvenkel/_core*.so "$pkg"/parvenkel/_corpus*.so "$pkg"/parvenkel/_index*.so \
    "$pkg"/parvenkel/__pycache__
# When cross-compiling, CMake does not ask the interpreter for the modules'
# suffix (cpython-314-aarch64-linux-gnu), so the files are named here.
soabi=$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("SOABI"))')
for module in _core _corpus _index; do
    cp "$build/cmake/$module.so" "$pkg/parvenkel/$module.$soabi.so"
done
export PYTHONPATH=$pkg PYTHONSAFEPATH=1
"$python" - "$pkg/parvenkel" "$soabi" <<'EOF'
import sys
import parvenkel._core, parvenkel._corpus, parvenkel._index
for module in (parvenkel._core, parvenkel._corpus, parvenkel._index):
    print(f"aarch64: {module.__name__}: {module.__file__}", file=sys.stderr)
    expected = f"{sys.argv[1]}/{module.__name__.split('.')[1]}.{sys.argv[2]}.so"
    assert module.__file__ == expected, f"another build of {module.__name__} is imported"
EOF

[ $# -gt 0 ] || set -- -q -p no:cacheprovider tests/test_module.py tests/test_keywords.py \
    tests/test_score.py tests/test_corpus.py
log "Python tests under qemu: $*"
"$python" -m pytest "$@"
