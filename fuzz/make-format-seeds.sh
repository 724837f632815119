#!/usr/bin/env bash
# Seeds for the WebP, TIFF and HEIF fuzzers, made by the formats' own tools
# from one small picture: make-format-seeds.sh SEED_FOLDER
set -eu
out=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$out/webp" "$out/tiff" "$out/heif"
# Eight bits a channel: heif-enc encodes a 16-bit PNG with 10 bits, and
# Debian's libaom asserts (aborts) in such AV1 encodes.
convert -size 12x9 gradient:red-blue -depth 8 PNG24:"$tmp/src.png"
convert "$tmp/src.png" -alpha set -channel A -fx 'i/11' -depth 8 PNG32:"$tmp/alpha.png"
cwebp -quiet -q 60 "$tmp/src.png" -o "$out/webp/lossy.webp"
cwebp -quiet -lossless "$tmp/src.png" -o "$out/webp/lossless.webp"
cwebp -quiet -q 60 "$tmp/alpha.png" -o "$out/webp/alpha.webp"
img2webp -lossy "$tmp/src.png" "$tmp/alpha.png" -o "$out/webp/anim.webp"
for c in none lzw zip rle jpeg; do convert "$tmp/src.png" -compress $c "$out/tiff/$c.tif"; done
convert "$tmp/src.png" -depth 16 "$out/tiff/rgb16.tif"
convert "$tmp/src.png" -colorspace gray -depth 16 "$out/tiff/gray16.tif"
convert "$tmp/src.png" -type palette "$out/tiff/palette.tif"
convert "$tmp/src.png" -colorspace cmyk "$out/tiff/cmyk.tif"
convert "$tmp/alpha.png" "$out/tiff/rgba.tif"
convert "$tmp/src.png" -define tiff:tile-geometry=16x16 "$out/tiff/tiled.tif"
# EXIF and GPS directories, which the reader carries and the writer writes again.
if command -v exiftool > /dev/null; then
  cp "$out/tiff/none.tif" "$out/tiff/exif.tif"
  exiftool -q -q -overwrite_original -Make=Cam -Orientation#=6 -ExposureTime=1/60 -ISO=100 -UserComment=c \
    -GPSLatitude=1.5 -GPSLatitudeRef=N "$out/tiff/exif.tif" || rm -f "$out/tiff/exif.tif"
fi
heif-enc -q 30 "$tmp/src.png" -o "$out/heif/a.heic" > /dev/null
# The AVIF seed is a help, not a must: the fuzzer finds the format from the HEIC one.
heif-enc -A -q 30 "$tmp/alpha.png" -o "$out/heif/a.avif" > /dev/null 2>&1 ||
  echo "make-format-seeds: no AVIF seed (the AV1 encoder failed)" >&2
