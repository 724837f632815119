#!/usr/bin/env bash
# Pictures for the batch run: a grey 40 x 30 picture, a cover of 10 x 8 whose
# bottom row (magenta) is its see-through colour and the rest blue, and a file
# the run must refuse for its extension.
set -eu

. "$(dirname "${BASH_SOURCE[0]}")/bmp-writer.sh"

mkdir -p pics
bmp pics/grey.bmp 40 30 0x808080
bmp pics/Second.BMP 8 6 0x00FF00
bmp cover.bmp 10 8 0xFF0000 0xFF00FF
printf 'not a picture' > pics/x.gif
