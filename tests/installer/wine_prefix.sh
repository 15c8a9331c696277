#!/usr/bin/env bash
# The installer's test installs and uninstalls for real, so it gets a Wine prefix of its own:
# "prepare TARGET" copies the tests' prepared prefix there (made first if it is missing) and
# starts a persistent wineserver and Wine's services for it; "remove TARGET" stops that server and deletes it.
# The source prefix is VORLUND_WINEPREFIX, else the one beside the build tree.
set -euo pipefail
mode=$1
target=$2
export WINEDEBUG=-all
stop() { WINEPREFIX=$target /usr/lib/wine/wineserver -k 2>/dev/null || true; }
case $mode in
  prepare)
    source=${VORLUND_WINEPREFIX:-$(dirname "$target")/wineprefix}
    if [ ! -f "$source/system.reg" ]; then
      mkdir -p "$source"
      WINEPREFIX=$source /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
    fi
    stop
    rm -rf "$target"
    cp -a "$source" "$target"
    # Detached from the caller's output, which CTest waits on.
    WINEPREFIX=$target /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
    # Wine's background services start with the first program; starting them here keeps them
    # off the test's output too.
    WINEPREFIX=$target /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1 || true
    ;;
  remove)
    stop
    rm -rf "$target"
    ;;
esac
