#!/usr/bin/env bash
# Pictures for the batch scenarios, made in the work folder.
set -eu

le16() { printf '\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)); }
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }

# bmp FILE WIDTH HEIGHT COLOUR: a 24-bit bitmap in one colour (0xBBGGRR).
bmp() {
    local file=$1 w=$2 h=$3 c=$4
    local row=$(( (w * 3 + 3) / 4 * 4 )) x y
    local px; px=$(printf '\\x%02x\\x%02x\\x%02x' $((c >> 16 & 255)) $((c >> 8 & 255)) $((c & 255)))
    local pad=""; for ((x = w * 3; x < row; x++)); do pad+='\x00'; done
    {
        printf "BM$(le32 $((54 + row * h)))$(le32 0)$(le32 54)"
        printf "$(le32 40)$(le32 $w)$(le32 $h)$(le16 1)$(le16 24)$(le32 0)$(le32 $((row * h)))"
        printf "$(le32 2835)$(le32 2835)$(le32 0)$(le32 0)"
        for ((y = 0; y < h; y++)); do
            for ((x = 0; x < w; x++)); do printf "$px"; done
            printf "$pad"
        done
    } > "$file"
}

bmp a.bmp 5 3 0x1E140A
bmp b.Bmp 2 7 0x3C3228
bmp c.BMP 6 4 0x030201
# Bitmaps by content, refused by name.
bmp photo.gif 4 4 0xFFFFFF
bmp photo.jpe 4 4 0xFFFFFF
bmp photo 4 4 0xFFFFFF
printf 'BM not a bitmap' > broken.bmp
