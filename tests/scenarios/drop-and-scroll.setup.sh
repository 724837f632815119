#!/usr/bin/env bash
# A photo much larger than any preview, a small cover, and a file that is no picture.
set -eu

. "$(dirname "${BASH_SOURCE[0]}")/bmp-writer.sh"

bmp photo.bmp 1600 1200 0x5A5A5A
bmp cover.bmp 40 30 0x00FF00
bmp small.bmp 3 2 0x0000FF
printf 'notes' > notes.txt
mkdir -p folder
