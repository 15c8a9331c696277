#!/usr/bin/env bash
# Installs the "Vorlund microphone" for the current user, without root: vorlund-mic,
# vorlund-ctl and vorlund-process into ~/.local/bin, the vorlund.lv2 bundle into ~/.lv2 (for
# hosts such as Ardour, Carla and jalv), the systemd user unit vorlund-mic.service (enabled and
# started where a systemd user session runs) and the private per-user data folder
# ~/.local/state/vorlund. It never writes over a file it did not install, nor through a link:
# it stops instead, and with --force keeps your file as FILE.bak. --uninstall removes exactly
# what it installed (the data folder and its records stay unless --purge is given too).
# usage: scripts/install-linux.sh [--force] [--uninstall [--purge]] [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
uninstall=0 purge=0 force=0 build=$root/build/linux-release
for argument in "$@"; do
  case $argument in
    --uninstall) uninstall=1 ;;
    --purge) purge=1 ;;
    --force) force=1 ;;
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
    -*) echo "install-linux.sh: unknown option $argument (see --help)" >&2; exit 2 ;;
    *) build=$argument ;;
  esac
done

bin_dir=$HOME/.local/bin
lv2_dir=${LV2_USER_DIR:-$HOME/.lv2}
unit_dir=${XDG_CONFIG_HOME:-$HOME/.config}/systemd/user
conf_dir=${XDG_CONFIG_HOME:-$HOME/.config}/pipewire/pipewire.conf.d
data_dir=${XDG_STATE_HOME:-$HOME/.local/state}/vorlund
# What this script installed, one "SHA256  PATH" line per file: what --uninstall removes, and
# what a later install may replace.
manifest=${XDG_DATA_HOME:-$HOME/.local/share}/vorlund/installed.txt
# The filter-chain configuration of earlier versions, as they shipped it.
old_conf=$conf_dir/vorlund-microphone.conf
old_conf_sum=5b28b00bcf6660b913d62ca095b4422eec5d68f079c6cd5ca8e5c687120d6bc0
old_ctl=$HOME/.local/lib/vorlund/vorlund-ctl

say() { echo "install-linux.sh: $*"; }
die() { echo "install-linux.sh: $*" >&2; exit 1; }
sum() { sha256sum "$1" | cut -d' ' -f1; }
installed_sum() { [ -f "$manifest" ] && awk -v p="$1" '$2 == p { print $1 }' "$manifest" || true; }
have_user_systemd() { command -v systemctl >/dev/null && systemctl --user show-environment >/dev/null 2>&1; }

# Whether `target` may be written: absent, or a regular file this script installed unchanged.
# Anything else (your own file, a file you edited, a link, a folder) stops the install, or with
# --force is moved aside to TARGET.bak.
check_target() {
  local target=$1
  [ -e "$target" ] || [ -L "$target" ] || return 0
  # The previous layout linked vorlund-ctl from ~/.local/lib/vorlund; the rename replaces it.
  [ -L "$target" ] && [ "$(readlink -- "$target")" = "$old_ctl" ] && return 0
  if [ ! -L "$target" ] && [ -f "$target" ] && [ "$(installed_sum "$target")" = "$(sum "$target")" ]; then
    return 0
  fi
  # Versions before the record of an install left the bundle without one: it is ours by its URI.
  if [ ! -f "$manifest" ] && [ ! -L "$target" ] && [ -f "$target" ] &&
    [[ $target == "$lv2_dir/vorlund.lv2/"* ]] &&
    grep -qs 'urn:vorlund:lv2:voice' "$lv2_dir/vorlund.lv2/manifest.ttl"; then
    return 0
  fi
  [ "$force" -eq 1 ] || die "$target is not one this script installed; move it away or run with --force to keep it as $target.bak"
  [ -e "$target.bak" ] || [ -L "$target.bak" ] && die "$target.bak exists too; move one of them away"
  mv -T -- "$target" "$target.bak"
  say "kept your $target as $target.bak"
}

# install_file SOURCE TARGET MODE: through a temporary beside the target and a rename, which
# replaces a link rather than writing through it.
install_file() {
  local source=$1 target=$2 mode=$3 temporary
  temporary=$(mktemp "$(dirname "$target")/.vorlund.XXXXXX")
  install -m "$mode" "$source" "$temporary"
  mv -T -- "$temporary" "$target"
  new_manifest+=("$(sum "$target")  $target")
  say "installed $target"
}

# A folder to install into: made when missing, never a link.
ensure_folder() {
  [ -L "$1" ] && die "$1 is a link; this script does not write through links"
  mkdir -p -- "$1"
}

stop_unit() {
  if have_user_systemd; then
    systemctl --user disable --now vorlund-mic.service >/dev/null 2>&1 || true
  fi
}

if [ "$uninstall" -eq 1 ]; then
  [ -f "$manifest" ] || die "nothing to remove: $manifest (the record of an install) is missing"
  stop_unit
  while read -r checksum path; do
    if [ -L "$path" ] || [ ! -f "$path" ]; then
      say "left $path: no longer the file installed"
    elif [ "$(sum "$path")" != "$checksum" ]; then
      say "kept $path: changed since it was installed"
    else
      rm -f -- "$path"
      say "removed $path"
    fi
  done <"$manifest"
  rmdir -- "$lv2_dir/vorlund.lv2" 2>/dev/null || true
  rm -f -- "$manifest"
  rmdir -- "$(dirname "$manifest")" 2>/dev/null || true
  if [ "$purge" -eq 1 ] && [ -d "$data_dir" ] && [ ! -L "$data_dir" ]; then
    rm -rf -- "$data_dir"
    say "removed the data folder $data_dir"
  fi
  have_user_systemd && systemctl --user daemon-reload || true
  exit 0
fi

for tool in cmake sha256sum; do
  command -v "$tool" >/dev/null || die "$tool is missing (scripts/setup-deps.sh installs it)"
done
jobs=$(nproc 2>/dev/null || echo 2)
if [ ! -f "$build/CMakeCache.txt" ]; then
  say "configuring $build"
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLUND_TESTS=OFF >/dev/null
fi
say "building with $jobs jobs"
cmake --build "$build" -j "$jobs" --target vorlund_lv2 vorlund-ctl vorlund-process vorlund-mic

bundle=$build/lv2/vorlund.lv2
files=("$build/tools/vorlund-mic:$bin_dir/vorlund-mic:755"
       "$build/tools/vorlund-ctl:$bin_dir/vorlund-ctl:755"
       "$build/tools/vorlund-process:$bin_dir/vorlund-process:755"
       "$root/packaging/pipewire/vorlund-mic.service:$unit_dir/vorlund-mic.service:644")
for file in "$bundle"/*; do files+=("$file:$lv2_dir/vorlund.lv2/$(basename "$file"):644"); done

# Every target is checked before the first is written, so a refusal leaves nothing half done.
for folder in "$bin_dir" "$lv2_dir" "$lv2_dir/vorlund.lv2" "$unit_dir" "$(dirname "$manifest")"; do
  ensure_folder "$folder"
done
for entry in "${files[@]}"; do
  IFS=: read -r _ target _ <<<"$entry"
  check_target "$target"
done

new_manifest=()
for entry in "${files[@]}"; do
  IFS=: read -r source target mode <<<"$entry"
  install_file "$source" "$target" "$mode"
done
printf '%s\n' "${new_manifest[@]}" >"$manifest"
if [ -f "$old_ctl" ] && [ ! -L "$old_ctl" ]; then
  rm -f -- "$old_ctl"
  rmdir -- "$(dirname "$old_ctl")" 2>/dev/null || true
fi

# The data folder is private: whoever may write its shared.bin drives the microphone.
[ -L "$data_dir" ] && die "$data_dir is a link; make it a folder of your own"
mkdir -p -m 700 -- "$data_dir"
chmod 700 -- "$data_dir"
say "data folder $data_dir (private to you)"

# The filter-chain configuration an earlier version installed gives way to vorlund-mic; one
# you changed is kept, renamed so that PipeWire no longer reads it.
restart=0
if [ -f "$old_conf" ] && [ ! -L "$old_conf" ]; then
  if [ "$(sum "$old_conf")" = "$old_conf_sum" ]; then
    rm -f -- "$old_conf"
    say "removed the earlier $old_conf"
  else
    [ -e "$old_conf.bak" ] || mv -T -- "$old_conf" "$old_conf.bak"
    say "kept your changed $old_conf as $old_conf.bak (PipeWire no longer reads it)"
  fi
  restart=1
fi
if have_user_systemd; then
  systemctl --user daemon-reload
  if [ "$restart" -eq 1 ] && systemctl --user is-active --quiet pipewire.service; then
    systemctl --user restart pipewire.service
    say "restarted PipeWire, so that the earlier configuration is gone"
  fi
  systemctl --user enable vorlund-mic.service >/dev/null 2>&1
  systemctl --user restart vorlund-mic.service
  say "started vorlund-mic.service (systemctl --user status vorlund-mic shows it)"
else
  say "no systemd user session: start the microphone with"
  echo "    $bin_dir/vorlund-mic &"
  if [ "$restart" -eq 1 ]; then
    say "after restarting PipeWire, so that the earlier configuration is gone:"
    echo "    kill \$(pidof -s pipewire) && pipewire &"
  fi
fi
say "choose \"Vorlund microphone\" as the input in any recording application"
