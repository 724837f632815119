# Sourced by the scenario set-ups: writes small 24-bit bitmaps, so the pictures a
# scenario needs are made in its work folder instead of kept as files.

le16() { printf '\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)); }
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
bgr() { printf '\\x%02x\\x%02x\\x%02x' $(($1 >> 16 & 255)) $(($1 >> 8 & 255)) $(($1 & 255)); }

# bmp FILE WIDTH HEIGHT [COLOUR [BOTTOM]]: a bitmap in one colour (0xBBGGRR),
# its bottom row in BOTTOM when given; without COLOUR each pixel its own: red
# 10 + 20x, green 15 + 20y, blue 99. A one-colour row is built once, so large
# pictures are quick to make.
bmp() {
    local file=$1 w=$2 h=$3 c=${4:-} bottom=${5:-${4:-}}
    local stride=$(( (w * 3 + 3) / 4 * 4 )) x y pad=""
    for ((x = w * 3; x < stride; x++)); do pad+='\x00'; done
    local row="" first=""
    if [ -n "$c" ]; then
        row=$(for ((x = 0; x < w; x++)); do bgr "$c"; done)$pad
        first=$(for ((x = 0; x < w; x++)); do bgr "$bottom"; done)$pad
    fi
    {
        printf "BM$(le32 $((54 + stride * h)))$(le32 0)$(le32 54)"
        printf "$(le32 40)$(le32 "$w")$(le32 "$h")$(le16 1)$(le16 24)$(le32 0)$(le32 $((stride * h)))"
        printf "$(le32 2835)$(le32 2835)$(le32 0)$(le32 0)"
        for ((y = h - 1; y >= 0; y--)); do  # bottom row first
            if [ -z "$c" ]; then
                for ((x = 0; x < w; x++)); do printf "$(printf '\\x63\\x%02x\\x%02x' $((15 + 20 * y)) $((10 + 20 * x)))"; done
                printf "$pad"
            elif [ "$y" -eq $((h - 1)) ]; then
                printf "$first"
            else
                printf "$row"
            fi
        done
    } > "$file"
}
