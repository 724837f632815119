#!/usr/bin/env bash
# Pictures for the batch scenarios, made in the work folder.
set -eu

. "$(dirname "${BASH_SOURCE[0]}")/bmp-writer.sh"

bmp a.bmp 5 3 0x1E140A
bmp b.Bmp 2 7 0x3C3228
bmp c.BMP 6 4 0x030201
# Bitmaps by content, refused by name.
bmp photo.gif 4 4 0xFFFFFF
bmp photo.jpe 4 4 0xFFFFFF
bmp photo 4 4 0xFFFFFF
printf 'BM not a bitmap' > broken.bmp
