#!/usr/bin/env bash
# Type checks of the package:
#   * mypy --strict over the package's own code and a small typed program
#     that uses its API (examples/typed_usage.py);
#   * mypy's stubtest, which imports the installed package and compares its
#     stubs (parvenkel/_core.pyi, parvenkel/_corpus.pyi and parvenkel/_index.pyi for the compiled
#     modules) and inline types
#     with what is really there.
# Run after tools/setup.sh (mypy comes from requirements-dev.txt).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
venv=${PARVENKEL_VENV:-$here/.venv}
python=$venv/bin/python
cache=$here/build/mypy-cache

echo "== mypy --strict"
cd "$here"
"$python" -m mypy --strict --cache-dir "$cache" parvenkel examples/typed_usage.py

echo "== stubtest"
# From a folder outside the source tree, so that the installed package is
# the one imported.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$python" -m mypy.stubtest --allowlist "$here/tools/stubtest-allowlist.txt" parvenkel
