#!/usr/bin/env bash
# Coverage-guided fuzzing of the core (text primitives, scoring, keyword
# extraction, the counts of many texts and their serialised form, the
# article index and its file reader) with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer.
#
#   tools/fuzz.sh [SECONDS]        fuzz for SECONDS (default 60)
#
# Builds fuzz/fuzz_core.cpp with clang against src/text and src/analysis
# into build/fuzz, replays every input of fuzz/regressions and fuzz/corpus,
# then fuzzes. The working corpus is build/fuzz/corpus (grown from
# fuzz/corpus and kept between runs). An input that breaks an invariant or
# crashes is written to build/fuzz/artifacts and the run fails; copy it into
# fuzz/regressions and fix the cause.
#
# Environment: PARVENKEL_FUZZ_JOBS=N runs N fuzzing processes (default 1);
# PARVENKEL_FUZZ_ENTROPIC=1 schedules inputs with libFuzzer's entropic
# power schedule, its default, instead of the plain one used here.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

seconds=${1:-60}
case "$seconds" in
    '' | *[!0-9]*) echo "usage: tools/fuzz.sh [SECONDS]" >&2; exit 2 ;;
esac
jobs=${PARVENKEL_FUZZ_JOBS:-1}

log() { printf 'fuzz: %s\n' "$*" >&2; }

tools/host-packages.sh clang-14 libclang-rt-14-dev libxxhash-dev

out=$here/build/fuzz
target=$out/fuzz_core
mkdir -p "$out/corpus" "$out/artifacts"

# fuzz/model.cpp, the target's second implementations, is built without
# coverage instrumentation (fuzz/coverage_ignore.txt): its branches would
# only steer libFuzzer towards inputs that exercise the models. It is
# compiled on its own at -O2, where the standard library's inline code it
# leans on (strings of code points grown one at a time) is inlined: at the
# -O1 of the rest those calls stayed calls, a tenth of each run. Its object
# comes first, so that the linker keeps its uninstrumented copies of the
# standard library's inline code, which the models use most; the core's own
# code is instrumented wherever it is compiled.
sources=(fuzz/fuzz_core.cpp src/text/*.cpp src/analysis/*.cpp src/kernels/*.cpp
         src/kernels/*/*.cpp src/corpus/*.cpp src/index/*.cpp src/util/*.cpp)
inputs=(fuzz/model.cpp "${sources[@]}" fuzz/*.inc fuzz/*.hpp fuzz/coverage_ignore.txt
        src/text/*.hpp src/analysis/*.hpp src/kernels/*.hpp src/kernels/*/*.hpp src/corpus/*.hpp
        src/index/*.hpp src/util/*.hpp)
stale=0
[ -x "$target" ] || stale=1
for f in "${inputs[@]}"; do
    [ "$f" -nt "$target" ] && stale=1
done
if [ "$stale" -eq 1 ]; then
    log "building $target"
    flags=(-std=c++20 -g -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
           -fno-sanitize-recover=undefined -fsanitize-coverage-ignorelist=fuzz/coverage_ignore.txt
           -Wall -Wextra -pthread -Isrc)
    clang++-14 "${flags[@]}" -O2 -c fuzz/model.cpp -o "$out/model.o"
    clang++-14 "${flags[@]}" -O1 "$out/model.o" "${sources[@]}" -o "$target.tmp"
    mv "$target.tmp" "$target"
fi

export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Known inputs first: every former finding and every seed, once each, with
# every check (fuzz_core.cpp runs the costliest on a sample otherwise).
replay=()
for f in fuzz/regressions/* fuzz/corpus/*; do
    [ -f "$f" ] && [ "$(basename "$f")" != README ] && replay+=("$f")
done
log "replaying ${#replay[@]} known inputs"
PARVENKEL_FUZZ_THOROUGH=1 "$target" -runs=1 "${replay[@]}" >"$out/replay.log" 2>&1 || {
    cat "$out/replay.log" >&2
    log "a known input fails"
    exit 1
}

[ "$seconds" -gt 0 ] || exit 0
log "fuzzing for $seconds s ($jobs process(es))"
options=(-max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=4096
         -dict=fuzz/core.dict -artifact_prefix="$out/artifacts/" -print_final_stats=1)
[ "$jobs" -gt 1 ] && options+=(-fork="$jobs")
# The entropic schedule keeps a frequency for every feature an input
# reaches; with each kernel compiled once per instruction set an input
# reaches some 30,000, and that bookkeeping took about half of each run. The
# plain schedule ran 1.5-1.9 times the inputs in 20-30 s runs here and
# reached more features and a larger corpus in the same time.
[ "${PARVENKEL_FUZZ_ENTROPIC:-0}" = 1 ] || options+=(-entropic=0)
# While fuzzing, a block's allocation is recorded with 8 frames of its
# stack, not 30, and locals are kept on the thread's stack rather than in
# blocks that outlive their call (each was about a twentieth of a run): a
# pointer to a local kept past its function's return
# is caught by the replay above and by the sanitized tests
# (tools/sanitize.sh), whatever the text, and a finding is replayed below
# with both for its report.
status=0
ASAN_OPTIONS=$ASAN_OPTIONS:malloc_context_size=8:detect_stack_use_after_return=0 \
    "$target" "${options[@]}" "$out/corpus" fuzz/corpus >"$out/fuzz.log" 2>&1 || status=$?
tail -n 25 "$out/fuzz.log" >&2
if [ "$status" -ne 0 ]; then
    log "FAILED (exit status $status); inputs in $out/artifacts:"
    ls -1 "$out/artifacts" >&2
    for f in "$out"/artifacts/*; do
        [ -f "$f" ] || continue
        log "replaying $f with full stacks"
        "$target" -runs=1 "$f" 2>&1 | tail -n 60 >&2 || true
    done
    exit "$status"
fi
log "no findings"
