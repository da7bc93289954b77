#!/bin/sh
# Builds benchmarks/cpp/text_bench.cpp with the flags of a release build and
# runs it: throughput of to_lowercase, is_alphabetic and keep_letters.
#
#   benchmarks/text_bench.sh [--rounds N] [FILE...]
#
# Without files it runs on the six prose corpora of the Python benchmarks
# (built by `.venv/bin/python benchmarks/corpora.py`). TEXT_SRC names
# another src/ folder to build against (for instance one taken from an older
# commit with `git archive`), CXX another compiler.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
src=${TEXT_SRC:-$root/src}
out_dir=$(mktemp -d "${TMPDIR:-/tmp}/text-bench.XXXXXX")
trap 'rm -rf "$out_dir"' EXIT
"${CXX:-g++}" -std=c++20 -O3 -DNDEBUG -I"$src" "$root/benchmarks/cpp/text_bench.cpp" \
    "$src"/text/*.cpp "$src"/kernels/active.cpp -o "$out_dir/text_bench"

rounds=""
if [ "${1:-}" = "--rounds" ]; then
    rounds="--rounds $2"
    shift 2
fi
if [ $# -eq 0 ]; then
    corpora="${XDG_CACHE_HOME:-$HOME/.cache}/parvenkel/bench-corpora/text"
    for name in en fr ru el zh ja; do
        if [ ! -f "$corpora/$name.txt" ]; then
            echo "text_bench.sh: $corpora/$name.txt missing; run benchmarks/corpora.py" >&2
            exit 1
        fi
        set -- "$@" "$corpora/$name.txt"
    done
fi
# shellcheck disable=SC2086  # $rounds is empty or two words
"$out_dir/text_bench" $rounds "$@"
