#!/usr/bin/env bash
# Instruction counts of one fixed workload per function under callgrind: a
# stable signal (unlike wall time on a busy machine) for comparing two
# versions of parvenkel's own code.
#
#   benchmarks/callgrind.sh            # both functions
#   benchmarks/callgrind.sh score_article
#
# Each workload (benchmarks/callgrind_workload.py) runs twice, with its calls
# and without them; the difference of the two totals is the instructions of
# the calls alone, divided by their number. PYTHONHASHSEED is fixed; the
# score_article count repeats to within a few instructions per call, the
# extract_keywords count moves by up to about 1 % between runs, because
# parvenkel's hash tables are seeded at random: compare differences larger
# than that, or take the lowest of a few runs.
#
# Valgrind needs the debug symbols of the dynamic loader the interpreter
# uses. When that is a private loader (the CPython 3.14 unpacked by
# tools/setup.sh), its debug file comes from the libc6-dbg package of the
# same suite, unpacked with tools/sid-unpack.sh into the cache and put under
# the name valgrind looks for (the loader's .gnu_debuglink).
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
python=${PYTHON:-$here/.venv/bin/python}
cache=${XDG_CACHE_HOME:-$HOME/.cache}/parvenkel
functions=("$@")
[ ${#functions[@]} -gt 0 ] || functions=(extract_keywords score_article)

command -v valgrind >/dev/null || "$here/tools/host-packages.sh" valgrind
"$python" -c 'import parvenkel' || { echo "callgrind.sh: parvenkel cannot be imported by $python" >&2; exit 1; }

# The real interpreter binary behind the venv, and its loader.
real=$("$python" -c 'import os, sys; print(os.path.realpath(sys.executable))')
loader=$(readelf -l "$real" | sed -n 's/.*Requesting program interpreter: \(.*\)]/\1/p')
extra=()
case "$loader" in
/lib64/* | /lib/*) ;; # the host's own loader: valgrind finds its symbols itself
*)
    build_id=$(readelf -n "$loader" | awk '/Build ID/ { print $3 }')
    link=$(readelf -p .gnu_debuglink "$loader" | awk '/\[ *0\]/ { print $3 }')
    dbgdir=$cache/valgrind-debuginfo
    if [ ! -f "$dbgdir/$link" ]; then
        dbgroot=$cache/libc-dbg
        debug=$dbgroot/usr/lib/debug/.build-id/${build_id:0:2}/${build_id:2}.debug
        if [ ! -f "$debug" ]; then
            echo "callgrind.sh: fetching libc6-dbg for the loader's debug symbols" >&2
            "$here/tools/sid-unpack.sh" "$dbgroot" libc6-dbg >/dev/null
        fi
        if [ ! -f "$debug" ]; then
            echo "callgrind.sh: no debug file with the loader's build id $build_id in libc6-dbg" >&2
            echo "callgrind.sh: (the interpreter's C library and the suite's libc6-dbg differ in version)" >&2
            exit 1
        fi
        mkdir -p "$dbgdir"
        cp "$debug" "$dbgdir/$link"
    fi
    extra=(--extra-debuginfo-path="$dbgdir")
    ;;
esac

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

total() { # total instruction count of one run: FUNCTION CALLS
    PYTHONHASHSEED=0 valgrind --tool=callgrind "${extra[@]}" \
        --callgrind-out-file="$out/cg.$1.$2" \
        "$python" "$here/benchmarks/callgrind_workload.py" "$1" "$2" 2>"$out/log.$1.$2" || {
        cat "$out/log.$1.$2" >&2
        exit 1
    }
    sed -n 's/^summary: *//p; s/^totals: *//p' "$out/cg.$1.$2" | head -n 1
}

for f in "${functions[@]}"; do
    case $f in
    extract_keywords) calls=5 what="5 calls on a 200 KB text in four scripts" ;;
    score_article) calls=1000 what="1000 calls on short articles (60 B title, 2 KB body)" ;;
    *) echo "callgrind.sh: unknown function $f" >&2; exit 2 ;;
    esac
    with=$(total "$f" "$calls")
    without=$(total "$f" 0)
    delta=$((with - without))
    printf '%-17s %15d instructions for %s: %d per call\n' "$f" "$delta" "$what" $((delta / calls))
done
