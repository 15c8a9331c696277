#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only if some are missing.
# With the argument "example" it also installs what scripts/make-example.sh needs.
set -euo pipefail
packages=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
          g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          wine64 libsndfile1-dev libpng-dev clang-format clang libclang-rt-dev valgrind
          lv2-dev liblilv-dev lilv-utils sordi pipewire pipewire-bin wireplumber dbus-daemon
          libpipewire-0.3-dev
          libwebrtc-audio-processing-dev libspeexdsp-dev libboost-dev nlohmann-json3-dev
          libcli11-dev libebur128-dev chromium chromium-driver nsis xvfb util-linux)
# The control panel's tests drive chromium from node; a node installed otherwise will do.
command -v node >/dev/null || packages+=(nodejs)
command -v npm >/dev/null || packages+=(npm)
if [ "${1:-}" = example ]; then
  packages+=(espeak-ng sox)
fi
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# The browser test checks the panel's accessibility with axe-core, from npm.
axe_version=4.14.1
axe_root="$(npm root -g)/axe-core"
if ! grep -qs "\"version\": \"$axe_version\"" "$axe_root/package.json"; then
  "${sudo_cmd[@]}" npm install -g --no-fund --no-audit "axe-core@$axe_version"
fi
