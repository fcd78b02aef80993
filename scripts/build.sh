#!/usr/bin/env bash
# build.sh BUILD_DIR [extra cmake arguments...]: configures and builds the whole tree with Ninja.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="$1"
shift
cmake -S . -B "$dir" -G Ninja "$@"
cmake --build "$dir"
