#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends \
  build-essential cmake ninja-build pkg-config \
  libasio-dev libgtest-dev libgmock-dev libbenchmark-dev \
  libusb-1.0-0-dev libumockdev-dev umockdev libliquid-dev libfftw3-dev \
  iproute2 util-linux procps
