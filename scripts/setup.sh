#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, only what is missing.
# libspng reads and writes PNG pictures; stb_image_resize scales covers.
# ImageMagick and exiftool are the independent readers the photo tests check our results with;
# cwebp/dwebp, tiffcp/tiffinfo and heif-enc/heif-info make and check the other formats;
# python3 reads the command line's JSON output in its tests.
# Xvfb, xdotool and x11-utils (xprop, xdpyinfo) run the real-display test, ImageMagick checks its screenshots.
# Prints one line per package it installs; apt's own output is shown only when it fails.
set -eu
need=()
# clang-14 and its runtime (libFuzzer, the sanitizers) build the fuzzers of fuzz/;
# clang-format and clang-tidy are scripts/lint.sh's.
for pkg in g++ cmake ninja-build qt6-base-dev libjpeg62-turbo-dev libgtest-dev \
           pkg-config libspng-dev libstb-dev \
           imagemagick libimage-exiftool-perl python3 \
           libwebp-dev libtiff-dev libheif-dev webp libtiff-tools libheif-examples \
           libgl-dev clang-14 libclang-rt-14-dev \
           clang-format clang-tidy \
           xvfb xdotool x11-utils; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || need+=("$pkg")
done
[ ${#need[@]} -eq 0 ] && exit 0
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
for pkg in "${need[@]}"; do echo "setup: installing $pkg"; done
if ! { $sudo_cmd apt-get update -qq &&
       DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends \
         "${need[@]}"; } > "$log" 2>&1; then
  cat "$log" >&2
  echo "setup: installing ${need[*]} failed" >&2
  exit 1
fi
