#!/usr/bin/env bash
# Fails when clang-format would change any of our C++ files.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.cc' '*.hpp')
((${#files[@]})) || exit 0
clang-format --dry-run --Werror "${files[@]}"
