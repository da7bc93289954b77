#!/usr/bin/env bash
# Prepare everything the project needs, unattended, on a fresh machine:
#
#   * host tools from Debian: what building and running the package needs
#     (a C++ compiler, the xxHash headers, patchelf for the private
#     interpreter); the test scripts install the tools they need themselves;
#   * a CPython 3.14 interpreter: $PYTHON if set, else python3.14 on PATH,
#     else one unpacked from Debian's unstable suite into a private root;
#   * a virtual environment in .venv with the package installed (editable)
#     and everything in requirements-dev.txt: the build backend, the test,
#     type-check and benchmark tools.
#
# With --debug, the same for the debug build of CPython 3.14 (python3.14d,
# with sys.gettotalrefcount): $PYTHON_DEBUG if set, else python3.14d on PATH,
# else python3.14-dbg unpacked from Debian's unstable suite into a root of its
# own; the virtual environment is then .venv-dbg.
#
# With --user DIR, a virtual environment in DIR for using the package, not
# for working on it: the same host tools and interpreter, then the package
# alone installed into DIR (a regular install, built in isolation), nothing
# from requirements-dev.txt.
#
# A second run reuses what is there and only reinstalls the package.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

usage() { echo "usage: tools/setup.sh [--debug | --user DIR]" >&2; exit 2; }
flavour=release
case "${1:-}" in
    --debug) flavour=debug ;;
    --user)
        flavour=user
        [ $# -eq 2 ] && [ -n "$2" ] || usage
        ;;
    "") ;;
    *) usage ;;
esac

cache=${XDG_CACHE_HOME:-$HOME/.cache}/parvenkel
if [ "$flavour" = debug ]; then
    venv=${PARVENKEL_VENV:-$here/.venv-dbg}
elif [ "$flavour" = user ]; then
    mkdir -p "$(dirname "$2")"
    venv=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
else
    venv=${PARVENKEL_VENV:-$here/.venv}
fi

log() { printf 'setup: %s\n' "$*" >&2; }

# This script sets up Debian and its derivatives; elsewhere the package
# installs with pip like any other.
if ! command -v apt-get >/dev/null 2>&1; then
    log "no apt-get: this script needs Debian or Ubuntu; elsewhere install CPython 3.14, a C++20 compiler and the xxHash headers, then run: python3.14 -m pip install ."
    exit 1
fi

# Host packages: only what is missing, with one apt-get update first (as
# root directly, through sudo otherwise).
"$here/tools/host-packages.sh" patchelf g++ libxxhash-dev

# The system's multiarch triplet (x86_64-linux-gnu, aarch64-linux-gnu, ...):
# where Debian's packages keep the libraries and the per-architecture headers.
triplet=$(g++ -print-multiarch 2>/dev/null || true)
[ -n "$triplet" ] || triplet=$(uname -m)-linux-gnu

# The interpreter, unpacked from Debian's packages, made to run on this host:
# it loads the newer C library it was built against through its own loader
# and a DT_RPATH (so the standard library's extension modules find their
# libraries too), never through LD_LIBRARY_PATH, which would leak into every
# program the interpreter starts.
provision_root() {
    local root=$1 exe=$2
    shift 2
    if [ -x "$root/usr/bin/$exe" ] && [ -f "$root/.parvenkel-ready" ]; then
        return
    fi
    log "unpacking CPython 3.14 ($*) into $root"
    rm -rf "$root"
    "$here/tools/sid-unpack.sh" "$root" "$@"
    local lib=$root/usr/lib/$triplet
    local loader
    loader=$(ls "$lib"/ld-linux*.so.[0-9] 2>/dev/null | head -n 1 || true)
    [ -n "$loader" ] || { log "no dynamic loader in $lib"; exit 1; }
    local bin
    for bin in "$root"/usr/bin/python3.14*; do
        [ -f "$bin" ] && [ ! -L "$bin" ] || continue
        head -c 4 "$bin" | grep -q 'ELF' || continue
        patchelf --set-interpreter "$loader" --force-rpath --set-rpath "$lib" "$bin"
    done
    # The include folder's pyconfig.h only forwards to the multiarch header,
    # which sits next to the newer C library's own headers; put the real one
    # in place so that the Python include folder alone is enough.
    # The debug build's folder (python3.14d) holds symbolic links to the
    # release headers, and a header's "pyconfig.h" is looked up next to its
    # real file, which would give a debug module the release configuration
    # (no Py_DEBUG, so no reference counting checks); copy the files instead.
    local inc
    for inc in "$root"/usr/include/python3.14*; do
        if [ -n "$(find "$inc" -type l -print -quit)" ]; then
            rm -rf "$inc.copy"
            cp -rL "$inc" "$inc.copy"
            rm -rf "$inc"
            mv "$inc.copy" "$inc"
        fi
        local real=$root/usr/include/$triplet/$(basename "$inc")/pyconfig.h
        [ -f "$real" ] && cp "$real" "$inc/pyconfig.h"
    done
    "$root/usr/bin/$exe" -c 'import ssl, sqlite3, ctypes, decimal' >/dev/null
    touch "$root/.parvenkel-ready"
}

# The standard library's bytecode, written once, as Debian's own installation
# does: where writing bytecode is off (PYTHONDONTWRITEBYTECODE, common in CI
# and containers), each start would otherwise compile every module it imports.
compile_stdlib() {
    local root=$1 exe=$2
    [ -f "$root/.parvenkel-bytecode" ] && return
    log "byte-compiling the standard library in $root"
    "$root/usr/bin/$exe" -m compileall -q -j 0 "$root/usr/lib/python3.14" >/dev/null || true
    touch "$root/.parvenkel-bytecode"
}

find_python() {
    if [ "$flavour" = debug ]; then
        if [ -n "${PYTHON_DEBUG:-}" ]; then
            echo "$PYTHON_DEBUG"
        elif command -v python3.14d >/dev/null 2>&1; then
            command -v python3.14d
        else
            provision_root "$cache/cpython-3.14-dbg" python3.14d \
                python3.14-dbg libpython3.14-dbg python3.14-dev python3-pip-whl
            compile_stdlib "$cache/cpython-3.14-dbg" python3.14d
            echo "$cache/cpython-3.14-dbg/usr/bin/python3.14d"
        fi
    elif [ -n "${PYTHON:-}" ]; then
        echo "$PYTHON"
    elif command -v python3.14 >/dev/null 2>&1; then
        command -v python3.14
    else
        provision_root "$cache/cpython-3.14" python3.14 python3.14-dev python3-pip-whl
        compile_stdlib "$cache/cpython-3.14" python3.14
        echo "$cache/cpython-3.14/usr/bin/python3.14"
    fi
}

python=$(find_python)
"$python" -c 'import sys; assert sys.version_info[:2] == (3, 14), sys.version' ||
    { log "$python is not CPython 3.14"; exit 1; }
if [ "$flavour" = debug ]; then
    "$python" -c 'import sys; sys.gettotalrefcount' ||
        { log "$python is not a debug build of CPython"; exit 1; }
fi

make_venv() {
    local py=$1 dir=$2
    if [ -x "$dir/bin/python" ] && "$dir/bin/python" -m pip --version >/dev/null 2>&1; then
        return
    fi
    log "creating virtual environment $dir"
    rm -rf "$dir"
    "$py" -m venv --without-pip "$dir"
    # ensurepip would look in the host's own, older wheel folder; use the
    # wheel that came with the interpreter when there is one.
    local prefix wheel
    prefix=$("$py" -c 'import sys; print(sys.base_prefix)')
    wheel=$(ls "$prefix"/share/python-wheels/pip-*.whl 2>/dev/null | head -n 1 || true)
    if [ -n "$wheel" ]; then
        "$dir/bin/python" "$wheel/pip" install -q "$wheel"
    else
        "$dir/bin/python" -m ensurepip -q
    fi
}

make_venv "$python" "$venv"
pip=("$venv/bin/python" -m pip)
"${pip[@]}" install -q --upgrade pip >&2
if [ "$flavour" = user ]; then
    log "building and installing parvenkel into $venv"
    "${pip[@]}" install -q "$here" >&2
    log "ready: $venv/bin/parvenkel, $venv/bin/python"
    exit 0
fi
"${pip[@]}" install -q -r "$here/requirements-dev.txt" >&2
# Editable, so that the package imports the same from the source tree and
# from elsewhere; re-running this rebuilds incrementally in build/.
log "building and installing parvenkel"
"${pip[@]}" install -q --no-build-isolation \
    --config-settings=cmake.define.PARVENKEL_WERROR=ON ${PARVENKEL_CONFIG_SETTINGS:-} -e "$here" >&2
log "ready: $venv/bin/python"
