#!/usr/bin/env bash
# Installs the Debian packages that building and running need; with --test
# also those that testing needs (the test command passes it).
# Works as root or through sudo.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-charts-dev libqt6opengl6-dev libqt6sql6-sqlite libqt6sql6-psql
  libcurl4-openssl-dev libsqlite3-dev libssl-dev libsecret-1-dev libpsl-dev libpq-dev publicsuffix
  fonts-wqy-microhei xdg-utils qt6-translations-l10n
)
TEST_PACKAGES=(
  clang libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-apps imagemagick xdotool dbus-daemon
  postgresql desktop-file-utils sqlite3
)
if [ "${1:-}" = "--test" ]; then PACKAGES+=("${TEST_PACKAGES[@]}"); fi
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
