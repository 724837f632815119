#!/usr/bin/env bash
# Cover bitmaps for the cover scenarios, made in the work folder.
set -eu

. "$(dirname "${BASH_SOURCE[0]}")/bmp-writer.sh"

bmp logo.bmp 4 3
bmp LOGO2.BMP 2 5 0x0000FF
bmp other.bmp 6 2 0x000000
bmp photo.JPG 3 3 0xFFFFFF
printf 'BM broken' > broken.bmp
