#!/usr/bin/env bash
# Installs the "Vorlund microphone" for the current user, without root: the vorlund.lv2
# bundle into ~/.lv2, the PipeWire configuration into ~/.config/pipewire/pipewire.conf.d,
# vorlund-ctl (its presets are built in) into ~/.local/lib/vorlund, linked from ~/.local/bin,
# and the per-user data folder (~/.local/state/vorlund), then restarts the user's PipeWire. With --uninstall it removes
# them again (the data folder and its records stay unless --purge is given too).
# usage: scripts/install-linux.sh [--uninstall [--purge]] [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
uninstall=0 purge=0 build=$root/build/linux-release
for argument in "$@"; do
  case $argument in
    --uninstall) uninstall=1 ;;
    --purge) purge=1 ;;
    -h|--help) sed -n '2,7p' "$0"; exit 0 ;;
    *) build=$argument ;;
  esac
done

lv2_dir=${LV2_USER_DIR:-$HOME/.lv2}
conf_dir=${XDG_CONFIG_HOME:-$HOME/.config}/pipewire/pipewire.conf.d
bin_dir=$HOME/.local/bin
ctl_dir=$HOME/.local/lib/vorlund
data_dir=${XDG_STATE_HOME:-$HOME/.local/state}/vorlund

restart_pipewire() {
  if command -v systemctl >/dev/null && systemctl --user is-active --quiet pipewire 2>/dev/null; then
    systemctl --user restart pipewire pipewire-pulse wireplumber 2>/dev/null ||
      systemctl --user restart pipewire
    echo "restarted PipeWire"
  else
    echo "restart PipeWire (or log out and in) to apply the change"
  fi
}

if [ "$uninstall" -eq 1 ]; then
  rm -rf "$lv2_dir/vorlund.lv2" "$conf_dir/vorlund-microphone.conf" "$bin_dir/vorlund-ctl" \
    "$ctl_dir"
  [ "$purge" -eq 1 ] && rm -rf "$data_dir"
  echo "removed the Vorlund microphone"
  restart_pipewire
  exit 0
fi

if [ ! -f "$build/lv2/vorlund.lv2/vorlund.so" ]; then
  echo "building into $build"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLUND_TESTS=OFF >/dev/null
  cmake --build "$build" --target vorlund_lv2 vorlund-ctl
fi
mkdir -p "$lv2_dir" "$conf_dir" "$bin_dir" "$data_dir"
rm -rf "$lv2_dir/vorlund.lv2" "$ctl_dir"
cp -r "$build/lv2/vorlund.lv2" "$lv2_dir/"
cp "$root/packaging/pipewire/vorlund-microphone.conf" "$conf_dir/"
mkdir -p "$ctl_dir"
cp "$build/tools/vorlund-ctl" "$ctl_dir/"
ln -sf "$ctl_dir/vorlund-ctl" "$bin_dir/vorlund-ctl"
echo "installed: $lv2_dir/vorlund.lv2, $conf_dir/vorlund-microphone.conf, $bin_dir/vorlund-ctl"
echo "data folder: $data_dir"
restart_pipewire
