#!/usr/bin/env bash
# exported_symbols.sh LIBRARY HEADER: the library exports exactly the functions the header declares
# with ZR_API: no C++ symbols, no helpers of the libraries it is built from, and none missing.
set -euo pipefail
library="$1"
header="$2"
exported=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TW]$/ {print $3}' | sort -u)
others=$(nm -D --defined-only "$library" | awk '$2 !~ /^[TW]$/ {print $3}' | grep -v -E '^(_init|_fini)$' || true)
declared=$(grep -v '^#' "$header" | tr '\n' ' ' | grep -o -E 'ZR_API [^;(]*\(' |
  sed -E 's/.*[ *]([A-Za-z_][A-Za-z0-9_]*)\($/\1/' | sort -u)
status=0
extra=$(comm -23 <(printf '%s\n' "$exported") <(printf '%s\n' "$declared") | grep . || true)
missing=$(comm -13 <(printf '%s\n' "$exported") <(printf '%s\n' "$declared") | grep . || true)
if [ -n "$extra" ]; then
  echo "exported but not declared in zr_api.h:"; printf '  %s\n' $extra; status=1
fi
if [ -n "$missing" ]; then
  echo "declared in zr_api.h but not exported:"; printf '  %s\n' $missing; status=1
fi
if [ -n "$others" ]; then
  echo "exported data or other symbols:"; printf '  %s\n' $others; status=1
fi
[ $status -eq 0 ] && echo "$(printf '%s\n' "$declared" | grep -c .) functions, exactly those of zr_api.h"
exit $status
