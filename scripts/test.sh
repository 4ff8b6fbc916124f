#!/usr/bin/env bash
# Installs what is missing, builds every configuration and runs every test:
#   1. layout check (clang-format)
#   2. normal build with warnings as errors, all tests
#   3. ASan+UBSan build (clang) of everything, all tests, a short run of each fuzz target
#   4. ThreadSanitizer build of the Qt-free libraries, their tests
# The tests that need services get them from scripts/with-services.sh (a private
# session bus, a virtual X display); the card tests start their own pcscd.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/install-deps.sh
# The compiler cache lives outside the clone, so a fresh clone (CI's) reuses it;
# paths are hashed relative to the clone, so another folder hits the same entries.
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/velkora/ccache}
export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1
ccache --max-size=8G >/dev/null 2>&1 || true
jobs=$(nproc)

echo "== layout"
bash scripts/check-format.sh

run_suite() { # preset
    local preset=$1
    echo "== $preset: configure and build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    echo "== $preset: tests"
    bash scripts/with-services.sh ctest --test-dir "build/$preset" --output-on-failure -j "$jobs" --timeout 300
}

run_suite ci

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp
run_suite asan
echo "== asan: fuzz targets"
bash scripts/run-fuzzers.sh build/asan "${VELK_FUZZ_SECONDS:-30}"

# Some tests run programs as another user, who may not enter the checkout's folder: the
# suppressions go where every user can read them.
tsan_dir=$(mktemp -d)
cp scripts/tsan.supp "$tsan_dir/"
chmod 0755 "$tsan_dir"
chmod 0644 "$tsan_dir/tsan.supp"
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$tsan_dir/tsan.supp
run_suite tsan

echo "== all suites passed"
