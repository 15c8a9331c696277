#!/usr/bin/env bash
# Runs a Windows program under Wine with the build's private prefix and no debug chatter.
# VORLUND_WINEPREFIX overrides the prefix; the default lives beside the program's build tree.
set -euo pipefail
program=$1
shift
if [ -z "${VORLUND_WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$program")" && pwd)
  while [ "$dir" != "/" ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  VORLUND_WINEPREFIX="$dir/wineprefix"
fi
export WINEPREFIX=$VORLUND_WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
exec /usr/lib/wine/wine64 "$program" "$@"
