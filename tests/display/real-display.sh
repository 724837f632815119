#!/usr/bin/env bash
# The program on a real X display (Xvfb, started here), driven with xdotool as a
# user would: the real "Open" dialog, the cover's "Browse", a run with progress
# and a Cancel, the window at its minimum size. What it shows is checked from
# screenshots by region, against the same region before.
#
# usage: real-display.sh VELLUMARK VMK_SCRIPT WORK_FOLDER
# VMK_TEST_DISPLAY=N uses display :N instead of the first free one.
# Exit 77 (skipped) when Xvfb, xdotool, ImageMagick or xprop is missing.
set -u
program=$1 script=$2 work=$3
for tool in Xvfb xdotool import convert compare xprop; do
  command -v "$tool" > /dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
rm -rf "$work" && mkdir -p "$work/pics" "$work/config" "$work/shots"
cd "$work" || exit 1

xvfb_pid="" app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2> /dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null
  wait 2> /dev/null
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
step() { echo "-- $*"; }
# Runs a command until it succeeds or `seconds` pass.
retry() {
  local seconds=$1; shift
  local end=$((SECONDS + seconds))
  until "$@"; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.1
  done
}

# ---- the display
if [ -n "${VMK_TEST_DISPLAY:-}" ]; then
  Xvfb ":$VMK_TEST_DISPLAY" -screen 0 1600x1000x24 -nolisten tcp > xvfb.log 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$VMK_TEST_DISPLAY"
else
  exec 5> display.txt
  Xvfb -displayfd 5 -screen 0 1600x1000x24 -nolisten tcp > xvfb.log 2>&1 &
  xvfb_pid=$!
  retry 20 test -s display.txt || fail "Xvfb did not start: $(cat xvfb.log)"
  export DISPLAY=":$(head -1 display.txt)"
fi
retry 20 xdpyinfo > /dev/null 2>&1 || retry 20 xprop -root > /dev/null 2>&1 || fail "no display at $DISPLAY"

# ---- pictures: a photo whose bottom-right quarter is pure red, copied many
# times so that the run lasts a few seconds; a green cover
step "making pictures"
convert -size 4000x3000 gradient:'#305070'-'#90b0d0' -fill '#ff0000' -draw 'rectangle 3000,2250 3999,2999' \
  -quality 90 pics/p00.jpg || fail "ImageMagick could not make the photo"
names='"p00.jpg"'
for i in $(seq -w 1 39); do
  cp pics/p00.jpg "pics/p$i.jpg"
  names="$names \"p$i.jpg\""
done
# (its bottom-left pixel, the colour "Auto Detect" makes see-through, is white)
convert -size 120x90 xc:'#00c000' -fill white -draw 'rectangle 0,80 9,89' BMP3:pics/cover.bmp ||
  fail "ImageMagick could not make the cover"

# ---- the program, with its own settings and no desktop settings of the machine
export VELLUMARK_REGISTRY="$work/registry.reg" XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb
unset QT_QPA_PLATFORMTHEME QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_FONT_DPI
"$program" > program.log 2>&1 &
app_pid=$!
main=$(timeout 30 xdotool search --sync --onlyvisible --name '^Vellumark$' | head -1)
[ -n "$main" ] || fail "the window did not show"

# The window's geometry; the layout's scale (the desktop's font against 11
# pixels) from its width, 600 as laid out.
geometry() { eval "$(xdotool getwindowgeometry --shell "$main")"; }
geometry
scale=$(awk -v w="$WIDTH" 'BEGIN { printf "%.4f", w / 600 }')
px() { awk -v v="$1" -v s="$scale" 'BEGIN { printf "%d", v * s + 0.5 }'; }
echo "window ${WIDTH}x$HEIGHT at $X,$Y, scale $scale"

shot() {  # shot NAME: the window as it shows now
  geometry
  import -window root -crop "${WIDTH}x$HEIGHT+$X+$Y" +repage "shots/$1.png"
}
region() {  # region SHOT NAME LEFT TOP WIDTH HEIGHT: a part of a shot, in window pixels
  convert "shots/$1.png" -crop "$5x$6+$3+$4" +repage "shots/$2.png"
}
differs() {  # differs A B: how many pixels of two regions differ clearly
  compare -metric AE -fuzz 15% "shots/$1.png" "shots/$2.png" null: 2>&1 | cut -d' ' -f1
}
colours() { convert "shots/$1.png" -format %k info:; }
# How many pixels of a region pass an fx test.
count() { convert "shots/$1.png" -fx "($2) ? 1 : 0" -format '%[fx:round(mean * w * h)]' info:; }
reds() { count "$1" 'r > 0.8 && g < 0.25 && b < 0.25'; }  # the photo's corner
# A window other than the main one (a dialog or a message box) shows.
new_window() {
  local w
  for w in $(xdotool search --onlyvisible --name '.' 2> /dev/null); do
    [ "$w" != "$main" ] && { echo "$w"; return 0; }
  done
  return 1
}
wait_dialog() {
  retry 30 new_window > /dev/null || fail "no dialog came up ($1)"
  dialog=$(new_window)
  xdotool windowfocus --sync "$dialog"
}
wait_gone() { retry 30 sh -c "! xdotool search --onlyvisible --name '.' 2>/dev/null | grep -qvx $main" ||
  fail "the dialog stayed ($1)"; }
focus_main() { xdotool windowfocus --sync "$main"; sleep 0.3; }

# Where a page's client area starts in the window: the notebook overlaps the
# window's edges by 2 pixels, its pages lie 4 pixels in and 3 below the tabs.
page_left=2
page_top=$(( $(px 21) + 3 - 2 ))

# ---- the real "Open" dialog: to the folder, then every picture at once
step "Open dialog"
focus_main
xdotool key alt+o
wait_dialog "Open"
xdotool type --delay 5 "$work/pics/"
xdotool key Return
sleep 0.3
xdotool type --delay 2 "$names"
xdotool key Return
wait_gone "Open"
focus_main

# A picture previewed: a click on the list's second line (13 pixels a line, scaled).
geometry
xdotool mousemove --window "$main" $((page_left + 20)) $((page_top + $(px 104) + 2 + $(px 13) + $(px 6))) click 1
# The preview: right of the list, down to the window's bottom. A 12-megapixel
# photo takes a moment to decode on a busy machine.
pl=$((page_left + $(px 140))) pt=$((page_top + $(px 8)))
previewed() {
  shot files
  region files preview "$pl" "$pt" $((WIDTH - pl - 4)) $((HEIGHT - pt - 4))
  [ "$(colours preview)" -gt 3 ]
}
retry 20 previewed || fail "the file preview shows nothing"
if printf 'expect FitFiles.Checked true\n' | QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" \
     VELLUMARK_REGISTRY="$work/probe.reg" "$script" > probe.log 2>&1; then
  # Fitted, the whole photo shows: its red bottom-right quarter among it.
  [ "$(reds preview)" -gt 500 ] || fail "the fitted preview does not show the whole picture"
  echo "fitted preview shows the whole picture"
elif grep -q 'unknown control' probe.log; then
  echo "the fitted-preview check waits for the FitFiles control"
else
  fail "the fitted preview's probe failed: $(cat probe.log)"
fi

# ---- the cover's "Browse" dialog
step "Browse for the cover"
xdotool key ctrl+Tab
sleep 0.3
xdotool key alt+b
wait_dialog "Browse"
xdotool type --delay 5 "$work/pics/cover.bmp"
xdotool key Return
wait_gone "Browse"
focus_main
sleep 0.5
shot cover
# The cover preview shows the green cover.
cl=$((page_left + $(px 177))) ct=$((page_top + $(px 212)))
region cover cover-preview "$cl" "$ct" $((WIDTH - cl - 8)) $((HEIGHT - ct - 8))
greens=$(count cover-preview 'g > 0.6 && r < 0.2 && b < 0.2')
[ "$greens" -gt 1000 ] || fail "the cover preview does not show the cover ($greens green pixels)"

# ---- a run with progress, then Cancel
step "run and cancel"
xdotool key ctrl+Next ctrl+Next
sleep 0.3
shot before-run
# "Please Wait..." and the bar lie below the Process button.
wl=$((page_left + $(px 8))) wt=$((page_top + $(px 184))) ww=$(px 313)
region before-run wait-before "$wl" "$wt" "$ww" "$(px 33)"
region before-run bar-before "$wl" $((page_top + $(px 224))) "$ww" "$(px 21)"
# From the first control (the folder field) to the Process button, and press it.
xdotool key Tab Tab space
seen_wait=0 seen_bar=0
end=$((SECONDS + 30))
while [ $SECONDS -lt $end ]; do
  shot during
  region during wait-during "$wl" "$wt" "$ww" "$(px 33)"
  region during bar-during "$wl" $((page_top + $(px 224))) "$ww" "$(px 21)"
  [ "$(differs wait-before wait-during)" -gt 100 ] && seen_wait=1
  # The bar is drawn and has begun to fill: its chunk in the highlight colour.
  [ "$(differs bar-before bar-during)" -gt 300 ] && [ "$(count bar-during 'b - r > 0.25')" -gt 20 ] && seen_bar=1
  [ $seen_wait = 1 ] && [ $seen_bar = 1 ] && break
  new_window > /dev/null && break  # the run ended already
done
[ $seen_wait = 1 ] || fail "\"Please Wait...\" was not painted during the run"
[ $seen_bar = 1 ] || fail "the progress bar was not painted during the run"
cp shots/during.png shots/run-in-progress.png
xdotool key Escape
wait_dialog "end of run"
shot end-message
xdotool key Return
wait_gone "end of run"
written=$(ls pics | grep -c '^VMK_')
[ "$written" -lt 40 ] || fail "Cancel did not stop the run ($written of 40 written)"
echo "cancelled after $written of 40"
focus_main
sleep 0.3
shot after-run
region after-run wait-after "$wl" "$wt" "$ww" "$(px 33)"
[ "$(differs wait-before wait-after)" -lt 50 ] || fail "\"Please Wait...\" stayed after the run"

# ---- the minimum size: every page whole
step "minimum size"
min=$(xprop -id "$main" WM_NORMAL_HINTS | sed -n 's/.*minimum size: \([0-9]*\) by \([0-9]*\).*/\1 \2/p')
[ -n "$min" ] || fail "the window sets no minimum size"
# shellcheck disable=SC2086
xdotool windowsize --sync "$main" $min
sleep 0.5
geometry
echo "minimum ${WIDTH}x$HEIGHT"
for page in 0 1 2 3 4; do
  shot "minimum-page$page"
  # Inside each page a margin runs along its right and bottom edges: a
  # control cut off by the edge would paint into it.
  region "minimum-page$page" right-edge $((WIDTH - 5)) "$((page_top + 2))" 2 $((HEIGHT - page_top - 8))
  region "minimum-page$page" bottom-edge 4 $((HEIGHT - 5)) $((WIDTH - 10)) 2
  [ "$(colours right-edge)" = 1 ] || fail "page $page is cut off on the right at the minimum size"
  [ "$(colours bottom-edge)" = 1 ] || fail "page $page is cut off at the bottom at the minimum size"
  xdotool key ctrl+Tab
  sleep 0.3
done
echo "PASS"
