#!/usr/bin/env bash
# Runs every fuzz target of a build for a short time on its seed corpus.
# usage: run-fuzzers.sh BUILD_DIR SECONDS
set -euo pipefail
build=$1
seconds=${2:-30}
cd "$(dirname "$0")/.."
shopt -s nullglob
found=0
for target in "$build"/fuzz/fuzz_*; do
    [[ -x $target && -f $target ]] || continue
    name=$(basename "$target")
    corpus=fuzz/corpus/${name#fuzz_}
    work=$(mktemp -d)
    [[ -d $corpus ]] && cp -r "$corpus"/. "$work"/
    echo "-- $name for ${seconds}s"
    "$target" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 "$work" 2>&1 | tail -n 4
    rm -rf "$work"
    found=$((found + 1))
done
echo "fuzz targets run: $found"
