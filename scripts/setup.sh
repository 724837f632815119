#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, only what is missing.
set -eu
need=()
for pkg in g++ cmake ninja-build qt6-base-dev libjpeg62-turbo-dev libgtest-dev \
           libgl-dev; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need+=("$pkg")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
