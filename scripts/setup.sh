#!/usr/bin/env bash
# Installs the Debian packages Marrowby needs to build, run and test, and
# nothing when they are all there already.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libqt6sql6-sqlite libsqlite3-dev libcurl4-openssl-dev libcpp-httplib-dev zlib1g-dev libbrotli-dev libzstd-dev
  libgtest-dev libbenchmark-dev
  clang libclang-rt-dev
  xvfb xauth xdotool fonts-nanum
  python3-jsonschema libxml2-utils chromium
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
