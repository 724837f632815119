#!/usr/bin/env bash
# A photo much larger than any preview, a small cover, and a file that is no picture.
set -eu

le16() { printf '\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)); }
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }

# bmp FILE WIDTH HEIGHT COLOUR: a 24-bit bitmap in one colour (0xBBGGRR); the
# row is built once, so large pictures are quick to make.
bmp() {
    local file=$1 w=$2 h=$3 c=$4
    local size=$(( (w * 3 + 3) / 4 * 4 )) y
    local px; px=$(printf '\\x%02x\\x%02x\\x%02x' $((c >> 16 & 255)) $((c >> 8 & 255)) $((c & 255)))
    local row; row=$(for ((y = 0; y < w; y++)); do printf '%s' "$px"; done
                     for ((y = w * 3; y < size; y++)); do printf '\\x00'; done)
    {
        printf "BM$(le32 $((54 + size * h)))$(le32 0)$(le32 54)"
        printf "$(le32 40)$(le32 $w)$(le32 $h)$(le16 1)$(le16 24)$(le32 0)$(le32 $((size * h)))"
        printf "$(le32 2835)$(le32 2835)$(le32 0)$(le32 0)"
        for ((y = 0; y < h; y++)); do printf "$row"; done
    } > "$file"
}

bmp photo.bmp 1600 1200 0x5A5A5A
bmp cover.bmp 40 30 0x00FF00
bmp small.bmp 3 2 0x0000FF
printf 'notes' > notes.txt
mkdir -p folder
