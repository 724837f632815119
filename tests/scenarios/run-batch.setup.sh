#!/usr/bin/env bash
# Pictures for the batch run: a grey 40 x 30 picture, a cover of 10 x 8 whose
# bottom row (magenta) is its see-through colour and the rest blue, and a file
# the run must refuse for its extension.
set -eu

le32() { local h; h=$(printf %08x "$1"); printf "\\x${h:6:2}\\x${h:4:2}\\x${h:2:2}\\x${h:0:2}"; }
le16() { local h; h=$(printf %04x "$1"); printf "\\x${h:2:2}\\x${h:0:2}"; }

# bmp24 FILE W H BOTTOM-BGR REST-BGR: a 24-bit BMP whose bottom row has one
# colour and every other row another; colours as six hex digits, blue first.
bmp24() {
    local file=$1 w=$2 h=$3 bottom=$4 rest=$5
    local stride=$(((w * 3 + 3) / 4 * 4)) pad
    pad=$((stride - w * 3))
    {
        printf 'BM'; le32 $((54 + stride * h)); le32 0; le32 54
        le32 40; le32 "$w"; le32 "$h"; le16 1; le16 24; le32 0; le32 $((stride * h)); le32 2835; le32 2835; le32 0; le32 0
        for ((y = 0; y < h; y++)); do
            local c=$rest
            [ "$y" -eq 0 ] && c=$bottom
            for ((x = 0; x < w; x++)); do printf "\\x${c:0:2}\\x${c:2:2}\\x${c:4:2}"; done
            for ((p = 0; p < pad; p++)); do printf '\x00'; done
        done
    } > "$file"
}

mkdir -p pics
bmp24 pics/grey.bmp 40 30 808080 808080
bmp24 pics/Second.BMP 8 6 00ff00 00ff00
bmp24 cover.bmp 10 8 ff00ff ff0000
printf 'not a picture' > pics/x.png
