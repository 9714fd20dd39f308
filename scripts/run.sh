#!/usr/bin/env bash
# Sets up the machine, builds the client and starts it on its built-in demo
# front-end (web/), served on loopback together with a statistics endpoint
# that prints every launch report. Without a display, a private Xvfb is used.
#   QM_WEB_PORT / QM_STATS_PORT  ports of the demo servers (8000 / 8888)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
web_port=${QM_WEB_PORT:-8000}
stats_port=${QM_STATS_PORT:-8888}

./scripts/setup.sh
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" -j "$(nproc)" --target client

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  Xvfb :77 -screen 0 1440x900x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=:77
  sleep 1
  echo "run: no display found; the client runs on the private display :77"
fi

"$root/build/tools/qm_devserver" "$root/web" "$web_port" "$stats_port" &
pids+=($!)
sleep 0.5

# The demo's own deployment file: statistics go to the local endpoint.
deploy="$root/build/run/deploy.ini"
mkdir -p "$(dirname "$deploy")"
printf '[frontend]\ndefault=127.0.0.1:%s\n[statistics]\nhost=127.0.0.1:%s\n' "$web_port" "$stats_port" > "$deploy"

echo "run: starting the client (close it from its tray menu or with Ctrl+C)"
QM_DEPLOY_FILE="$deploy" "$root/build/bin/qm_main" "*url:\"http://127.0.0.1:${web_port}/\""
