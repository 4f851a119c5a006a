#!/usr/bin/env bash
# Installs, once, every Debian package the project needs beyond the base image.
# Safe to run again: it installs only what is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang lld libclang-rt-14-dev clang-format
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libasio-dev nlohmann-json3-dev libcli11-dev
  iproute2 procps
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then SUDO=sudo; else
    echo "setup: these packages are missing and this user cannot install them: ${missing[*]}" >&2
    exit 1
  fi
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done"
