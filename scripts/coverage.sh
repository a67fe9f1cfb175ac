#!/usr/bin/env bash
# Line coverage of src/ by the main suite (what scripts/test.sh --quick runs): builds its own
# tree with gcc's coverage counters, runs every ctest test of that tree (unit tests, the
# black-box tests and the browser tests, all against that tree's executables) and prints
#   src/ line coverage: 71.3% (5123 of 7185 lines)
# An HTML report lands in build-coverage/coverage/. Extra arguments go to ctest.
# Tunables (environment): COVERAGE_DIR (build-coverage), TEST_JOBS (twice the cores).
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
ROOT=$PWD
DIR=${COVERAGE_DIR:-build-coverage}
TEST_JOBS=${TEST_JOBS:-$((2 * $(nproc)))}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$ROOT}
start=$SECONDS

BUILD_DIR=$DIR CMAKE_ARGS="-DCMAKE_BUILD_TYPE=Debug -DVEXO_COVERAGE=ON" \
    scripts/setup.sh --test --coverage || exit 1
# Counters add up across runs: start from zero.
find "$DIR" -name '*.gcda' -delete

(cd "$DIR" && ctest --output-on-failure -j "$TEST_JOBS" "$@")
tests_rc=$?

mkdir -p "$DIR/coverage"
gcovr --root "$ROOT" --object-directory "$DIR" --filter "$ROOT/src/" -j "$(nproc)" \
    --gcov-ignore-parse-errors --json-summary "$DIR/coverage/summary.json" \
    --html-details "$DIR/coverage/index.html" >"$DIR/coverage/gcovr.log" 2>&1 \
    || { cat "$DIR/coverage/gcovr.log"; exit 1; }
python3 - "$DIR/coverage/summary.json" <<'PY'
import json, sys
s = json.load(open(sys.argv[1]))
print("src/ line coverage: %.1f%% (%d of %d lines)"
      % (100.0 * s["line_covered"] / max(s["line_total"], 1), s["line_covered"], s["line_total"]))
PY
echo "coverage: $((SECONDS - start))s; report in $DIR/coverage/index.html"
[ "$tests_rc" -eq 0 ] || echo "coverage: some tests failed (ctest exit $tests_rc): the figure counts what ran"
exit "$tests_rc"
