#!/usr/bin/env bash
# Cover bitmaps for the cover scenarios, made in the work folder.
set -eu

le16() { printf '\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)); }
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }

# bmp FILE WIDTH HEIGHT [COLOUR]: a 24-bit bitmap in one colour (0xBBGGRR), or
# without COLOUR each pixel its own: red 10 + 20x, green 15 + 20y, blue 99.
bmp() {
    local file=$1 w=$2 h=$3 c=${4:-} x y row=$(( ($2 * 3 + 3) / 4 * 4 ))
    local pad=""; for ((x = w * 3; x < row; x++)); do pad+='\x00'; done
    {
        printf "BM$(le32 $((54 + row * h)))$(le32 0)$(le32 54)"
        printf "$(le32 40)$(le32 $w)$(le32 $h)$(le16 1)$(le16 24)$(le32 0)$(le32 $((row * h)))"
        printf "$(le32 2835)$(le32 2835)$(le32 0)$(le32 0)"
        for ((y = h - 1; y >= 0; y--)); do  # bottom row first
            for ((x = 0; x < w; x++)); do
                if [ -n "$c" ]; then
                    printf "$(printf '\\x%02x\\x%02x\\x%02x' $((c >> 16 & 255)) $((c >> 8 & 255)) $((c & 255)))"
                else
                    printf "$(printf '\\x63\\x%02x\\x%02x' $((15 + 20 * y)) $((10 + 20 * x)))"
                fi
            done
            printf "$pad"
        done
    } > "$file"
}

bmp logo.bmp 4 3
bmp LOGO2.BMP 2 5 0x0000FF
bmp other.bmp 6 2 0x000000
bmp photo.JPG 3 3 0xFFFFFF
printf 'BM broken' > broken.bmp
