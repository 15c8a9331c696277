#!/usr/bin/env bash
# Builds the native Release configuration and runs the chain over a generated voice signal.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup-deps.sh
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target vorlund-demo >/dev/null
exec build/linux-release/tools/vorlund-demo "$@"
