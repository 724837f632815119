#!/usr/bin/env bash
# Pictures for the run rules: three good ones, three damaged ones and a name
# the run refuses; an output folder that already holds one result.
set -eu

. "$(dirname "${BASH_SOURCE[0]}")/bmp-writer.sh"

mkdir -p pics out
bmp pics/one.bmp 12 10 0x808080
bmp pics/two.bmp 12 10 0x808080
bmp pics/three.bmp 12 10 0x808080
bmp cover.bmp 4 4 0xFF0000 0xFF00FF
printf 'BM' > pics/short.bmp
: > pics/empty.bmp
# A whole header whose picture data lies beyond the end of the file.
head -c 62 pics/one.bmp > pics/cut.bmp
printf 'not a picture' > pics/notes.gif
printf 'last week' > out/VMK_one.bmp
