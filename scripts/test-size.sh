#!/usr/bin/env bash
# Prints the lines of test code beside the lines of product code and their ratio.
#   test code:    tests/ and fuzz/ (sources only: no node_modules, lock files or fuzz seeds)
#   product code: src/, tools/ and www/
# scripts/ and bench/ count as neither. Exits 1 when tests exceed a third of the product
# with --check.
set -euo pipefail
cd "$(dirname "$0")/.."

count_lines() {
    find "$@" -type f \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.py' -o -name '*.js' \
        -o -name '*.mjs' -o -name '*.html' -o -name '*.css' -o -name '*.cmake' -o -name 'CMakeLists.txt' \
        -o -name '*.sh' \) -not -path '*/node_modules/*' -print0 | xargs -0 cat | wc -l
}

tests=$(count_lines tests fuzz)
product=$(count_lines src tools www)
percent=$((tests * 100 / product))
echo "test code: $tests lines, product code: $product lines, ratio: $percent% (ceiling 33%)"
if [ "${1:-}" = "--check" ] && [ $((tests * 3)) -gt "$product" ]; then
    exit 1
fi
