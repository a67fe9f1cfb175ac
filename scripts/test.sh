#!/usr/bin/env bash
# Installs, builds and runs every test. Safe to run again.
#   scripts/test.sh                  every stage (what CI runs): the main suite, the suite under
#                                    ASan+UBSan, the server's tests under ThreadSanitizer, the suite
#                                    against Qt 6, and each fuzz target for a bounded time
#   scripts/test.sh --quick [ARGS]   the main suite only; ARGS go to ctest
#   scripts/test.sh --stage NAME     only the named stage(s): main, asan, tsan, qt6, fuzz (repeatable)
# Tunables (environment): FUZZ_SECONDS (60 per target), TSAN_TESTS (ctest -R pattern of the
# server's tests), STAGE_TIMEOUT (seconds one ctest run may take, 1500), TEST_JOBS (tests run at
# once, twice the cores: most of a test's time is spent waiting on sockets, devices and timers).
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
ROOT=$PWD

FUZZ_SECONDS=${FUZZ_SECONDS:-60}
TSAN_TESTS=${TSAN_TESTS:-http|listener|connection|request|response|cookie|static|load|fault|router|ajax}
STAGE_TIMEOUT=${STAGE_TIMEOUT:-1500}
TEST_JOBS=${TEST_JOBS:-$((2 * $(nproc)))}
ALL_STAGES=(main asan tsan qt6 fuzz)

# Object files differ only by the checkout's path between clones; let the cache see through it.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$ROOT}

quick=0
stages=()
ctest_args=()
while [ $# -gt 0 ]; do
    case "$1" in
        --quick) quick=1 ;;
        --stage) stages+=("$2"); shift ;;
        *) ctest_args+=("$1") ;;
    esac
    shift
done

if [ "$quick" = 1 ]; then
    scripts/setup.sh --test || exit 1
    cd "${BUILD_DIR:-build}" || exit 1
    exec ctest --output-on-failure -j "$TEST_JOBS" "${ctest_args[@]}"
fi
[ ${#stages[@]} -eq 0 ] && stages=("${ALL_STAGES[@]}")

scripts/setup.sh --all || { echo "setup failed"; echo "0 passed, 1 failed"; exit 1; }

# Sanitizer findings are fatal; a report of one is a failed test, never a warning in a log.
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:strict_init_order=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# Vexo draws nothing with OpenGL; without this, Qt on the test X server loads Mesa's driver,
# whose allocations LeakSanitizer reports after the driver is unloaded, with no name to suppress.
export QT_XCB_GL_INTEGRATION=none
export LSAN_OPTIONS="suppressions=$ROOT/scripts/sanitizers/lsan.supp:print_suppressions=0"
# Qt is not built with TSan: accesses made inside its libraries are not judged, only Vexo's.
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:suppressions=$ROOT/scripts/sanitizers/tsan.supp"

LOG_DIR=$ROOT/build-logs
mkdir -p "$LOG_DIR"
summary=()
launcher=()
total_passed=0
total_failed=0

# Records one stage: its name, verdict, counts and duration.
record() {
    local name=$1 passed=$2 failed=$3 seconds=$4 note=${5:-}
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    local verdict=PASS
    [ "$failed" -gt 0 ] && verdict=FAIL
    summary+=("$(printf '%-6s %-4s %4d passed %4d failed %5ds  %s' "$name" "$verdict" "$passed" "$failed" "$seconds" "$note")")
}

# Configures and builds one build tree; extra arguments go to cmake's configure step.
build_tree() {
    local dir=$1 target=$2
    shift 2
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" || return 1
    fi
    # A reused tree does not notice Q_OBJECT headers that a merge added to a globbed target;
    # make moc look at every target again (it rewrites only what changed).
    find "$dir" -path '*_autogen/timestamp' -delete
    cmake --build "$dir" --target "$target" -j "$(nproc)"
}

# Runs ctest in a build tree and records its counts under the stage's name.
run_ctest() {
    local name=$1 dir=$2 start=$3
    shift 3
    local log=$LOG_DIR/$name-ctest.log
    (cd "$dir" && "${launcher[@]}" timeout --kill-after=30 "$STAGE_TIMEOUT" \
        ctest --output-on-failure -j "$TEST_JOBS" "$@" "${ctest_args[@]}") 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    local line total failed
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n1)
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    failed=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
    if [ -z "$line" ] && grep -q 'No tests were found' "$log"; then
        record "$name" 0 0 $((SECONDS - start)) "no test matched"
        return
    elif [ -z "$line" ]; then
        total=1 failed=1
    elif [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ]; then
        failed=1 total=$((total + 1))
    fi
    record "$name" $((total - failed)) "$failed" $((SECONDS - start)) "ctest exit $rc"
}

stage_main() {
    local start=$SECONDS
    build_tree build all || { record main 0 1 $((SECONDS - start)) "build failed"; return; }
    run_ctest main build "$start"
}

stage_asan() {
    local start=$SECONDS
    build_tree build-asan all -DVEXO_SANITIZE=address,undefined \
        || { record asan 0 1 $((SECONDS - start)) "build failed"; return; }
    run_ctest asan build-asan "$start"
}

stage_tsan() {
    local start=$SECONDS
    build_tree build-tsan all -DVEXO_SANITIZE=thread \
        || { record tsan 0 1 $((SECONDS - start)) "build failed"; return; }
    # Kernels with high mmap randomisation break the TSan runtime's memory layout: run without it.
    launcher=(setarch "$(uname -m)" -R)
    run_ctest tsan build-tsan "$start" -R "$TSAN_TESTS"
    launcher=()
}

stage_qt6() {
    local start=$SECONDS
    build_tree build-qt6 all -DVEXO_QT6=ON || { record qt6 0 1 $((SECONDS - start)) "build failed"; return; }
    run_ctest qt6 build-qt6 "$start"
}

# Runs one fuzz target for FUZZ_SECONDS on a scratch copy of its corpus; any finding fails it.
run_fuzzer() {
    local name=$1
    local exe=build-fuzz/$name work=build-fuzz/work/$name log=$LOG_DIR/fuzz-$name.log
    local seeds=fuzz/corpus/$name
    mkdir -p "$work" build-fuzz/artifacts
    local extra=()
    [ -f "fuzz/$name.dict" ] && extra+=("-dict=fuzz/$name.dict")
    timeout --kill-after=30 $((FUZZ_SECONDS + 300)) "$exe" -max_total_time="$FUZZ_SECONDS" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$name-" \
        "${extra[@]}" "$work" "$seeds" >"$log" 2>&1
    local rc=$?
    local runs
    runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log" | tail -n1)
    if [ "$rc" -eq 0 ]; then
        echo "fuzz $name: no finding in ${runs:-?} runs (${FUZZ_SECONDS}s)"
    else
        echo "fuzz $name: FINDING (exit $rc) after ${runs:-?} runs; log $log"
        grep -E '^[a-z][a-z ]+: |ERROR|runtime error|SUMMARY|Test unit written' "$log" | head -n 40
    fi
    return $rc
}

stage_fuzz() {
    local start=$SECONDS
    build_tree build-fuzz fuzzers -DCMAKE_CXX_COMPILER=clang++-14 -DVEXO_BUILD_FUZZERS=ON \
        -DVEXO_BUILD_TESTS=OFF -DVEXO_SANITIZE=address,undefined \
        || { record fuzz 0 1 $((SECONDS - start)) "build failed"; return; }
    local passed=0 failed=0 src name
    for src in fuzz/fuzz_*.cpp; do
        name=$(basename "$src" .cpp)
        if run_fuzzer "$name"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
    done
    record fuzz "$passed" "$failed" $((SECONDS - start)) "${FUZZ_SECONDS}s per target"
}

for stage in "${stages[@]}"; do
    case "$stage" in
        main | asan | tsan | qt6 | fuzz)
            echo "===== stage $stage ====="
            "stage_$stage"
            ;;
        *) echo "unknown stage $stage"; record "$stage" 0 1 0 "unknown stage" ;;
    esac
done

echo
echo "===== summary (logs in build-logs/) ====="
printf '%s\n' "${summary[@]}"
scripts/test-size.sh
echo "$total_passed passed, $total_failed failed"
[ "$total_failed" -eq 0 ]
