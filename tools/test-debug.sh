#!/usr/bin/env bash
# Runs the whole Python test suite under the debug build of CPython 3.14
# (python3.14d, provisioned by `tools/setup.sh --debug` into .venv-dbg) in
# development mode (-X dev: debug hooks on the memory allocators, warnings
# shown, faulthandler on). There sys.gettotalrefcount() exists, and the leak
# checks of tests/test_leaks.py, tests/test_threads.py and
# tests/test_extremes.py compare the total reference count as well as the
# allocated block count.
#
#   tools/test-debug.sh [PYTEST ARGS...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

venv=${PARVENKEL_DEBUG_VENV:-$here/.venv-dbg}
PARVENKEL_VENV=$venv tools/setup.sh --debug
"$venv/bin/python" -c 'import sys; sys.gettotalrefcount' || {
    echo "test-debug: $venv/bin/python is not a debug build" >&2
    exit 1
}
"$venv/bin/python" -X dev -m pytest -p no:cacheprovider "$@"
