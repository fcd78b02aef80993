#!/usr/bin/env bash
# Installs what is needed, then builds and runs the whole suite twice: once plainly and once with
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

jobs="${ZR_TEST_JOBS:-2}"

./scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ctest --test-dir build -j"$jobs" --output-on-failure

./scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=Debug -DZR_SANITIZE=address,undefined -DZR_BUILD_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -j"$jobs" --output-on-failure

# The threaded paths (the bus firmware worker, the Ethernet bus and the simulator's service
# threads) once more under ThreadSanitizer.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZR_SANITIZE=thread -DZR_BUILD_BENCH=OFF
cmake --build build-tsan --target firmware_tests bus_tests
TSAN_OPTIONS=halt_on_error=1 ./build-tsan/tests/firmware/firmware_tests --gtest_filter='BusFirmware*'
TSAN_OPTIONS=halt_on_error=1 ./build-tsan/tests/bus/bus_tests
