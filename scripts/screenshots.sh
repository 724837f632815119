#!/usr/bin/env bash
# Takes docs/screenshots/page-*.png: each page of the window at its minimum size
# and at 1600 x 1000, in a light and in a dark desktop palette (Plasma's colour
# settings, read by Qt's own KDE theme), with a picture, a cover and a save
# preview in place. The dark desktop also has a larger font (10 points): the
# layout grows with it.
#
# usage: scripts/screenshots.sh BUILD_FOLDER [DISPLAY_NUMBER]
set -eu
build=$(cd "$1" && pwd)
number=${2:-99}
root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/docs/screenshots"
work=$(mktemp -d)
xvfb=""
trap '[ -n "$xvfb" ] && kill "$xvfb"; rm -rf "$work"' EXIT

Xvfb ":$number" -screen 0 1600x1000x24 -nolisten tcp > "$work/xvfb.log" 2>&1 &
xvfb=$!
export DISPLAY=":$number"
for _ in $(seq 50); do xprop -root > /dev/null 2>&1 && break; sleep 0.1; done

convert -size 4000x3000 gradient:'#305070'-'#c0d8f0' -fill '#d04020' -draw 'circle 2000,1500 2000,600' \
  -quality 90 "$work/photo.jpg"
convert -size 160x60 xc:white -fill '#202020' -draw 'rectangle 4,4 155,55' -fill '#f0c000' \
  -draw 'rectangle 12,12 147,47' BMP3:"$work/cover.bmp"

# desktop NAME WINDOW_BG TEXT VIEW_BG FONT_POINTS: a Plasma colour and font setting
desktop() {
  mkdir -p "$work/$1"
  cat > "$work/$1/kdeglobals" << EOF
[General]
font=Sans Serif,$5,-1,5,50,0,0,0,0,0

[Colors:Window]
BackgroundNormal=$2
ForegroundNormal=$3

[Colors:View]
BackgroundNormal=$4
ForegroundNormal=$3

[Colors:Button]
BackgroundNormal=$2
ForegroundNormal=$3

[Colors:Selection]
BackgroundNormal=61,174,233
ForegroundNormal=255,255,255

[Colors:Tooltip]
BackgroundNormal=$2
ForegroundNormal=$3
EOF
}
desktop light 239,240,241 35,38,41 252,252,252 8.25
desktop dark 42,46,50 239,240,241 27,30,32 10

for palette in light dark; do
  script="$work/$palette.vmk"
  {
    echo "answer OpenFiles $work/photo.jpg"
    echo "click Open"
    echo "select FilesList 0"
    echo "tab 1"
    echo "text CoverFile $work/cover.bmp"
    echo "check RB true"
    echo "tab 2"
    echo "check JPG true"
    echo "select FileListSave 0"
    for size in "1 1:minimum" "1600 1000:1600x1000"; do
      echo "resize ${size%%:*}"
      for page in 0 1 2 3 4; do
        echo "tab $page"
        echo "wait 300"
        echo "screenshot $out/page$page-${size##*:}-$palette.png"
      done
    done
  } > "$script"
  XDG_CONFIG_HOME="$work/$palette" QT_QPA_PLATFORMTHEME=kde KDE_SESSION_VERSION=5 QT_QPA_PLATFORM=xcb \
    VELLUMARK_REGISTRY="$work/$palette.reg" "$build/vmk-script" "$script" 2>&1 | grep -v '^qt\.\|DBus\|XDG_RUNTIME' || true
done
ls "$out"/page*.png
