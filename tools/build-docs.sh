#!/usr/bin/env bash
# Builds the documentation site into build/site and checks it:
#
#   * installs docs/requirements.txt (MkDocs, Material, mkdocstrings) into
#     the virtual environment, and Debian's chromium for the browser check;
#   * remakes docs/performance.md from docs/benchmarks/benchmark-results.json
#     and fails if the committed page differs (it is never edited by hand);
#   * builds with mkdocs --strict: a warning, a broken link or a missing
#     anchor between pages is an error;
#   * renders the front page and the API page in headless Chromium and checks
#     every internal link of the built site (tests/test_docs_site.py);
#     screenshots are left in build/site-check/.
#
# Run after tools/setup.sh (the API reference reads the package's sources
# and stubs; the tests need the installed package).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
venv=${PARVENKEL_VENV:-$here/.venv}
python=$venv/bin/python
cd "$here"

log() { printf 'build-docs: %s\n' "$*" >&2; }

"$here/tools/host-packages.sh" chromium
"$python" -m pip install -q -r docs/requirements.txt >&2

log "remaking the performance page from docs/benchmarks"
fresh=$(mktemp)
trap 'rm -f "$fresh"' EXIT
cp docs/performance.md "$fresh"
"$python" benchmarks/report.py --page docs/performance.md docs/benchmarks/benchmark-results.json
if ! cmp -s "$fresh" docs/performance.md; then
    diff -u "$fresh" docs/performance.md >&2 || true
    log "docs/performance.md was not what the benchmark results give; it is now: commit it"
    exit 1
fi

log "building the site"
NO_MKDOCS_2_WARNING=1 "$python" -m mkdocs build --strict --clean --site-dir "$here/build/site"

log "checking the pages in headless Chromium"
PARVENKEL_DOCS_CHECK=1 PARVENKEL_SITE="$here/build/site" \
    "$python" -m pytest -q -p no:cacheprovider tests/test_docs_site.py
