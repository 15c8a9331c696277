#!/usr/bin/env bash
# Installs what is missing, builds every configuration from scratch and runs every suite:
# Release and ASan+UBSan natively (each replaying the fuzz corpora; the Release suite also
# checks the voice chain's instruction budget under callgrind, scripts/instruction-budget.sh),
# the threading tests under ThreadSanitizer, and the MinGW build under Wine. The Release suite
# also runs the LV2 plugin through lilv, lv2_validate and lv2apply, and the Vorlund microphone
# in a private PipeWire session (label "pipewire"; skipped with its reason where none can run).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup-deps.sh

jobs=$(nproc)
passed=0
failed=0
run_suite() {
  local preset=$1
  echo "=== $preset: configure and build"
  rm -rf "build/$preset"
  cmake --preset "$preset" >"build/$preset-build.log" 2>&1 || { cat "build/$preset-build.log"; return 1; }
  cmake --build --preset "$preset" -j "$jobs" >>"build/$preset-build.log" 2>&1 ||
    { tail -n 60 "build/$preset-build.log"; return 1; }
  echo "=== $preset: test"
  local log="build/$preset/ctest.log"
  set +e
  ctest --preset "$preset" -j "$jobs" ${CTEST_EXTRA:-} 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  set -e
  local total fails
  total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  fails=$(sed -n 's/.*, \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -n 1)
  passed=$((passed + ${total:-0} - ${fails:-0}))
  failed=$((failed + ${fails:-0}))
  [ "$rc" -eq 0 ] || failed=$((failed + (fails == 0 ? 1 : 0)))
  return 0
}

mkdir -p build
run_suite linux-release
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite linux-asan
# Only the programs that hold threading tests are built, and only those tests run.
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run_suite linux-tsan

# Wine: one private prefix, made once before the tests start so parallel programs never race
# to create it; a persistent wineserver saves seconds per program.
export VORLUND_WINEPREFIX="$root/build/wineprefix"
mkdir -p "$VORLUND_WINEPREFIX"
export WINEPREFIX="$VORLUND_WINEPREFIX" WINEDEBUG=-all
/usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
# Debian keeps the server off PATH. The server wineboot started would refuse a second one (exit
# 2), so wait for it to go, then start one that stays (-p) until killed below. A failure shows,
# and costs only the seconds it would save.
wineserver=/usr/lib/wine/wineserver
"$wineserver" -w || echo "wineserver -w failed"
# Both detached from this script's output: CTest waits for the output of a test to close, and a
# server or a service that a test program started would hold it open for good.
"$wineserver" -p </dev/null >/dev/null 2>&1 ||
  echo "wineserver -p failed: each Wine program waits for the server to exit"
# Wine's background services start with the first program that needs them; start them here.
/usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1 || echo "wineboot failed"
# A Wine process now and then dies at start-up before running any code; one retry of a
# program that failed keeps that from failing the run, while a real failure fails twice.
CTEST_EXTRA="--repeat until-pass:2" run_suite mingw-release
"$wineserver" -k || echo "wineserver -k failed"

echo "all suites: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
