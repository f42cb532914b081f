#!/usr/bin/env bash
# Installs the Debian 12 packages that building, packaging (dpkg-dev for
# dpkg-shlibdeps, file, lintian), the demo and the tests need,
# when any of them is missing. Needs root (or sudo) only when it installs.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libcups2-dev zlib1g-dev libpng-dev libgtest-dev libbenchmark-dev libpappl-dev libsystemd-dev
  cups cups-client cups-daemon cups-filters cups-ppdc cups-ipp-utils ghostscript poppler-utils
  clang libclang-rt-14-dev valgrind time
  dpkg-dev file lintian
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
