#!/usr/bin/env bash
# Installs what is missing, builds every configuration from scratch and runs every suite:
# Release natively (replaying the fuzz corpora, checking the voice chain's instruction budget
# under callgrind, scripts/instruction-budget.sh, running the LV2 plugin through lilv,
# lv2_validate and lv2apply, the control panel in headless Chromium, and the Vorlund
# microphone in a private PipeWire session, label "pipewire", skipped with its reason where
# none can run); ASan+UBSan and ThreadSanitizer on the suites that can find memory and thread
# faults; and the MinGW build under Wine.
#
# Two cores do the work of four configurations, so builds overlap test runs that leave
# processors idle: the MinGW build runs (at a lower priority) beside the Release suite, the
# ASan+UBSan build beside the Wine suite. The sanitizer runs leave out what they cannot
# improve on: the browser tests (a page in Chromium), the PipeWire session (pipewire loads the
# plugin itself) and the preset promises (signal quality, the same code the other
# process tests run). The time of each step is printed at the end, before the totals.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
started=$SECONDS
bash scripts/setup-deps.sh

jobs=$(nproc)
passed=0
failed=0
times=()
mkdir -p build

# configure_and_build PRESET: from scratch, into build/PRESET-build.log.
configure_and_build() {
  local preset=$1 start=$SECONDS
  rm -rf "build/$preset"
  cmake --preset "$preset" >"build/$preset-build.log" 2>&1 &&
    cmake --build --preset "$preset" -j "$jobs" >>"build/$preset-build.log" 2>&1
  local rc=$?
  echo "$preset: configure and build $((SECONDS - start)) s" >"build/$preset-build.time"
  return $rc
}

# build PRESET: in the foreground. build_beside PRESET: in the background at a lower priority,
# so the tests running meanwhile keep the processors they ask for; wait_build PRESET ends it.
declare -A builders
build() {
  echo "=== $1: configure and build"
  configure_and_build "$1" || { tail -n 60 "build/$1-build.log"; return 1; }
  times+=("$(cat "build/$1-build.time")")
}
build_beside() {
  echo "=== $1: configure and build (beside the tests)"
  (
    renice -n 10 -p "$BASHPID" >/dev/null
    configure_and_build "$1"
  ) &
  builders[$1]=$!
}
wait_build() {
  local rc=0
  wait "${builders[$1]}" || rc=$?
  times+=("$(cat "build/$1-build.time" 2>/dev/null || echo "$1: configure and build ?")")
  [ "$rc" -eq 0 ] || { tail -n 60 "build/$1-build.log"; return 1; }
}

# test_suite PRESET [CTEST ARGUMENTS...]: counts what passed and failed. A configuration that
# failed to build counts as one failure.
test_suite() {
  local preset=$1 start=$SECONDS
  shift
  echo "=== $preset: test"
  local log="build/$preset/ctest.log"
  set +e
  ctest --preset "$preset" -j "$jobs" "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  set -e
  local total fails
  total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  fails=$(sed -n 's/.*, \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -n 1)
  passed=$((passed + ${total:-0} - ${fails:-0}))
  failed=$((failed + ${fails:-0}))
  [ "$rc" -eq 0 ] || failed=$((failed + (${fails:-0} == 0 ? 1 : 0)))
  times+=("$preset: test $((SECONDS - start)) s")
}
build_failed() {
  failed=$((failed + 1))
  times+=("$1: build failed")
}

# The sanitizer runs: no browser, no PipeWire session, no preset promises.
sanitizer_filter=(-LE '^browser$' -E 'PresetPromisesTest\.')

if build linux-release; then
  build_beside mingw-release
  test_suite linux-release
else
  build_failed linux-release
  build_beside mingw-release
fi

# Wine: one private prefix, made once before the tests start so parallel programs never race
# to create it; a persistent wineserver saves seconds per program.
if wait_build mingw-release; then
  export VORLUND_WINEPREFIX="$root/build/wineprefix"
  mkdir -p "$VORLUND_WINEPREFIX"
  export WINEPREFIX="$VORLUND_WINEPREFIX" WINEDEBUG=-all
  /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
  # Debian keeps the server off PATH. The server wineboot started would refuse a second one
  # (exit 2), so wait for it to go, then start one that stays (-p) until killed below. A
  # failure shows, and costs only the seconds it would save.
  wineserver=/usr/lib/wine/wineserver
  "$wineserver" -w || echo "wineserver -w failed"
  # Both detached from this script's output: CTest waits for the output of a test to close,
  # and a server or a service that a test program started would hold it open for good.
  "$wineserver" -p </dev/null >/dev/null 2>&1 ||
    echo "wineserver -p failed: each Wine program waits for the server to exit"
  # Wine's background services start with the first program that needs them; start them here.
  /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1 || echo "wineboot failed"
  build_beside linux-asan
  # A Wine process now and then dies at start-up before running any code; one retry of a
  # program that failed keeps that from failing the run, while a real failure fails twice.
  test_suite mingw-release --repeat until-pass:2
  "$wineserver" -k || echo "wineserver -k failed"
  unset WINEPREFIX WINEDEBUG
else
  build_failed mingw-release
  build_beside linux-asan
fi

if wait_build linux-asan; then
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    test_suite linux-asan "${sanitizer_filter[@]}"
else
  build_failed linux-asan
fi
# Only the programs that hold threading tests are built, and only those tests run.
if build linux-tsan; then
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 test_suite linux-tsan
else
  build_failed linux-tsan
fi

echo "=== time"
printf '%s\n' "${times[@]}"
echo "total: $((SECONDS - started)) s"
echo "all suites: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
