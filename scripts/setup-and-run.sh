#!/usr/bin/env bash
# Installs what is needed, builds, starts the instrument simulator on loopback and runs a short
# session against it over the Ethernet bus.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh build -DCMAKE_BUILD_TYPE=Release -DZR_BUILD_TESTS=OFF -DZR_BUILD_BENCH=OFF

log="$(mktemp)"
./build/sim/zr-sim --address 127.0.0.1 --port 0 >"$log" 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; rm -f "$log"' EXIT
port=""
for _ in $(seq 1 100); do
  port="$(sed -n 's/^zr-sim: listening on 127\.0\.0\.1:\([0-9]\+\)$/\1/p' "$log")"
  [ -n "$port" ] && break
  sleep 0.05
done
if [ -z "$port" ]; then
  echo "zr-sim did not start:" >&2
  cat "$log" >&2
  exit 1
fi
./build/examples/eth_session 127.0.0.1 "$port"
