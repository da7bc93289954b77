#!/usr/bin/env bash
# Builds the extension module and the C++ unit tests with AddressSanitizer
# (leak detection included) and UndefinedBehaviorSanitizer, then runs the C++
# unit tests and the whole Python test suite under them. Any sanitizer report
# fails the run.
#
#   tools/sanitize.sh [PYTEST ARGS...]
#
# The module is built into build/sanitize/module and installed into its own
# virtual environment, .venv-asan (release interpreter, same packages as
# .venv). The sanitizer runtime has to be the first library of the process,
# so every interpreter of that environment runs with the host's libasan and
# libstdc++ preloaded (see tools/sanitize_preload.py); programs those
# interpreters start (compilers, nm, ...) do not get the preload.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

venv=${PARVENKEL_ASAN_VENV:-$here/.venv-asan}
build=$here/build/sanitize
logs=$build/logs

log() { printf 'sanitize: %s\n' "$*" >&2; }

# Python side: an environment whose parvenkel is built with the sanitizers.
# Debug build type: -O1 from the sanitizer flags, assertions kept.
PARVENKEL_VENV=$venv PARVENKEL_CONFIG_SETTINGS="\
--config-settings=build-dir=build/sanitize/module \
--config-settings=cmake.build-type=Debug \
--config-settings=cmake.define.PARVENKEL_SANITIZE=ON" \
    tools/setup.sh
tools/host-packages.sh doctest-dev
export PATH="$venv/bin:$PATH"
site=$("$venv/bin/python" -c 'import sysconfig; print(sysconfig.get_path("purelib"))')
cp tools/sanitize_preload.py "$site/_parvenkel_sanitize_preload.py"
echo 'import _parvenkel_sanitize_preload' >"$site/_parvenkel_sanitize_preload.pth"

asan=$(g++ -print-file-name=libasan.so)
stdcxx=$(g++ -print-file-name=libstdc++.so)
for lib in "$asan" "$stdcxx"; do
    [ -f "$lib" ] || { log "$lib not found (is g++ installed?)"; exit 1; }
done

rm -rf "$logs"
mkdir -p "$logs"
common_asan=detect_leaks=1:halt_on_error=1:strict_init_order=1:detect_stack_use_after_return=1
export ASAN_OPTIONS="$common_asan:allocator_may_return_null=1:log_path=$logs/asan"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$logs/ubsan"
# pymalloc hides allocations from AddressSanitizer and confuses the leak
# checker; the system allocator shows every block.
export PYTHONMALLOC=malloc
# Only the interpreters of $venv load it (tools/sanitize_preload.py).
export PARVENKEL_SANITIZE_PRELOAD="$asan $stdcxx"

reports() {
    local found=0 f
    for f in "$logs"/*; do
        [ -e "$f" ] || continue
        found=1
        log "report in $f:"
        cat "$f" >&2
    done
    return $found
}

status=0
log "C++ unit tests"
cmake -S . -B "$build/cpp" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPARVENKEL_BUILD_TESTS=ON \
    -DPARVENKEL_SANITIZE=ON -DPARVENKEL_WERROR=ON >/dev/null
cmake --build "$build/cpp"
"$build/cpp/core_tests" || status=$?

log "Python tests"
"$venv/bin/python" -c 'import parvenkel._core, _parvenkel_sanitize_preload as p; assert p.sanitized(), "no sanitizer runtime"'
python -m pytest -p no:cacheprovider "$@" || status=$?

reports || status=1
if [ "$status" -ne 0 ]; then
    log "FAILED (exit status $status)"
    exit "$status"
fi
log "no sanitizer reports"
