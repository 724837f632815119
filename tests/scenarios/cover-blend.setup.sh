#!/usr/bin/env bash
# A grey 40 x 30 picture and an opaque red 10 x 8 PNG cover with an alpha
# channel; a damaged PNG beside it.
set -eu

. "$(dirname "${BASH_SOURCE[0]}")/bmp-writer.sh"

mkdir -p pics
bmp pics/grey.bmp 40 30 0x808080
convert -size 10x8 xc:red -alpha set -define png:color-type=6 cover.png
head -c 60 cover.png > broken.png
