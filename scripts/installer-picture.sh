#!/usr/bin/env bash
# Takes the picture of the installer's Microphones page for the README under Wine in Xvfb:
# three named microphones, Vorlund attached to one of them beforehand (so it shows ticked).
#   xvfb-run -a -s "-screen 0 800x600x24" scripts/installer-picture.sh BUILD OUT.png
# BUILD is the MinGW build tree (build/mingw-release); its prefix is copied, never changed.
# Needs xdotool (to press Next) and xwd.
set -euo pipefail
build=$(cd "$1" && pwd)
out=$2
work=$(mktemp -d "$build/picture.XXXXXX")
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
cp -a "$build/wineprefix" "$WINEPREFIX"
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1
$wine wineboot </dev/null >/dev/null 2>&1 || true
capture='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\MMDevices\Audio\Capture'
i=1
for name in "USB Headset Mic" "Webcam Mic" "Microphone Array (Realtek Audio)"; do
  key="$capture\\{5EC0F00D-0000-4000-8000-00000000000$i}"
  $wine reg add "$key" /v DeviceState /t REG_DWORD /d 1 /f >/dev/null
  $wine reg add "$key\\FxProperties" /v "{D04E05A6-594B-4fb6-A80D-01AF5EED7D1D},5" /t REG_SZ \
    /d "{AAAAAAAA-1111-2222-3333-444444444444}" /f >/dev/null
  $wine reg add "$key\\Properties" /v "{a45c254e-df1c-4efd-8020-67d146a850e0},2" /t REG_SZ \
    /d "$name" /f >/dev/null
  i=$((i + 1))
done
$wine "$build/tools/vorlund-ctl.exe" attach 2 >/dev/null
installer=$(ls "$build"/Vorlund-Setup-*.exe | head -1)
title="$(basename "$installer" .exe | sed 's/Vorlund-Setup-/Vorlund /') Setup"
$wine "$installer" &
window=
for _ in $(seq 60); do
  window=$(xdotool search --name "$title" 2>/dev/null | head -1) && [ -n "$window" ] && break
  sleep 1
done
[ -n "$window" ] || { echo "the installer's window did not appear" >&2; exit 1; }
xdotool windowactivate --sync "$window" 2>/dev/null || true
xdotool key --window "$window" Return  # the folder page: Next
sleep 5
xwd -id "$window" -silent >"$work/page.xwd"
kill %1 2>/dev/null || true
# xwd (32 bits a pixel, this machine's byte order) to PNG, without an image library.
python3 - "$work/page.xwd" "$out" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
header = struct.unpack(">25I", data[:100])
size, width, height, line, colours = header[0], header[4], header[5], header[12], header[19]
pixels = data[size + colours * 12:]
rows = b"".join(b"\0" + bytes(c for x in range(width) for c in
                              pixels[y * line + 4 * x: y * line + 4 * x + 3][::-1])
                for y in range(height))
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
open(sys.argv[2], "wb").write(b"\x89PNG\r\n\x1a\n" +
    chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
    chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))
PY
echo "wrote $out"
