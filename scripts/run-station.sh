#!/usr/bin/env bash
# The station's main job on this machine: set up, build, and run the core in a demo working
# directory (./demo) until it is stopped with Ctrl-C or an APPLICATION_STOP request.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/setup.sh
cmake -S . -B build/normal -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/normal -j "$(nproc)" --target core

demo="$root/demo"
mkdir -p "$demo/configs" "$demo/exchange"
cp configs/appconfig.toml configs/mock.png "$demo/configs/"
# The core powers the board off by running ./shutdown; here that only records the request.
cat > "$demo/shutdown" <<'SCRIPT'
#!/bin/sh
echo "power-off requested: $*" | tee -a shutdown.log
SCRIPT
chmod +x "$demo/shutdown"

cd "$demo"
echo "run-station: working directory $demo; requests go to $demo/exchange/request.json"
exec "$root/build/normal/src/core/core" disable_lidar disable_scales "$@"
