#!/usr/bin/env bash
# Runs a Windows test program in a Wine prefix of its own: the installer's test installs and
# uninstalls for real. "wine_prefix.sh TARGET PROGRAM [ARGUMENTS...]" copies the tests'
# prepared prefix to TARGET (making the source first if it is missing), starts a persistent
# wineserver and Wine's services there, runs PROGRAM through scripts/wine-run.sh, then stops
# the server and deletes TARGET. Each run starts from a fresh copy, so a retry does too. The
# source prefix is VORLUND_WINEPREFIX, else the one beside the build tree.
set -euo pipefail
target=$1
shift
root=$(cd "$(dirname "$0")/../.." && pwd)
source=${VORLUND_WINEPREFIX:-$(dirname "$target")/wineprefix}
export WINEDEBUG=-all
stop() { WINEPREFIX=$target /usr/lib/wine/wineserver -k 2>/dev/null || true; }
if [ ! -f "$source/system.reg" ]; then
  mkdir -p "$source"
  WINEPREFIX=$source /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1 || true
  # The registry reaches its files only when that prefix's server ends: copied before, the
  # copy would have no environment (no ProgramData, no ProgramFiles).
  WINEPREFIX=$source /usr/lib/wine/wineserver -w 2>/dev/null || true
fi
stop
rm -rf "$target"
cp -a "$source" "$target"
trap 'stop; rm -rf "$target"' EXIT
# Detached from this script's output, which CTest waits on; Wine's background services start
# with the first program, so wineboot starts them here, detached too.
WINEPREFIX=$target /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
WINEPREFIX=$target /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1 || true
VORLUND_WINEPREFIX=$target "$root/scripts/wine-run.sh" "$@"
