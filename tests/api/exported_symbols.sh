#!/usr/bin/env bash
# The control library must export its C interface and nothing else: no C++ symbols, no helpers
# of the libraries it is built from.
set -euo pipefail
library="$1"
exports=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
unexpected=$(printf '%s\n' "$exports" | grep -v -E '^(device|channel|tx|rx|cal|mod)_[a-zA-Z0-9_]+$' | grep -v '^$' || true)
if [ -n "$unexpected" ]; then
  echo "libzr_api.so exports symbols outside its C interface:"
  printf '%s\n' "$unexpected" | head -50
  exit 1
fi
echo "$(printf '%s\n' "$exports" | grep -c . || true) exported symbols, all in the C interface"
