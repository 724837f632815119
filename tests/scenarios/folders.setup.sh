#!/usr/bin/env bash
# A shoot with a folder per day, as a camera's card gives it: numbered names,
# hidden entries, a link leading out and one leading back in, a file that is
# no picture; and a cover.
set -eu

. "$(dirname "${BASH_SOURCE[0]}")/bmp-writer.sh"

mkdir -p shoot/day2/late shoot/day10 shoot/.thumbs outside empty
bmp shoot/IMG_10.bmp 4 3 0x808080
bmp shoot/IMG_2.bmp 4 3 0x808080
bmp shoot/.hidden.bmp 4 3 0x808080
bmp shoot/day2/IMG_1.bmp 4 3 0x808080
bmp shoot/day2/late/IMG_3.bmp 4 3 0x808080
bmp shoot/day10/IMG_1.bmp 4 3 0x808080
bmp shoot/.thumbs/IMG_2.bmp 4 3 0x808080
bmp outside/far.bmp 4 3 0x808080
printf 'notes' > shoot/notes.txt
ln -s ../outside shoot/elsewhere
ln -s .. shoot/day2/back
bmp cover.bmp 2 2 0xFF0000
