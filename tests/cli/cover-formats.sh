#!/usr/bin/env bash
# A PNG cover with see-through parts, placed bottom centre with a margin in %,
# at 70 % opacity and sized to the shorter side: the command line writes what
# the window writes with the same choices. Then the further save formats, and
# the refusals of the cover's options.
. "$(dirname "${BASH_SOURCE[0]}")/pictures.sh"
make_pictures pics
convert -size 12x9 gradient:red-blue -alpha set -channel A -fx 'i/w' +channel -define png:color-type=6 \
  "$work/cover.PNG"
list=()
for f in rgb24.bmp pal8.bmp photo.jpg turned6.jpg grey.JPG rgb32.bmp progressive.jpeg; do
  list+=("$work/pics/$f")
done

cat > "$work/blend.vmk" <<VMK
workers 2
answer OpenFiles ${list[*]}
click Open
tab 1
text CoverFile $work/cover.PNG
check BC true
check MarginPercent true
text MarginX 4
text MarginY 4
text Opacity 70
check SizeShorter true
text SizePercent 15
text Path $work/window/
tab 3
click Process
VMK
QT_QPA_PLATFORM=offscreen VELLUMARK_REGISTRY="$work/window.reg" "$driver" "$work/blend.vmk" > "$work/window.log" ||
  fail "window run: $(cat "$work/window.log")"
[ "$(ls "$work/window" | wc -l)" -eq 7 ] || fail "window wrote $(ls "$work/window" | wc -l) files"

vb --cover "$work/cover.PNG" --position bc --margin-x 4 --margin-y=4 --margin-percent --opacity 70 --size shorter \
  --size-percent 15 --output "$work/cli" --jobs 2 "${list[@]}" || fail "command line run failed"
diff -r "$work/window" "$work/cli" || fail "results differ from the window's"
# The settings did something: the default run differs.
vb --cover "$work/cover.PNG" --output "$work/plain" "$work/pics/rgb24.bmp"
! cmp -s "$work/plain/VMK_rgb24.bmp" "$work/cli/VMK_rgb24.bmp" || fail "the cover's settings changed nothing"

# Each further format writes its own kind of file, whatever the source.
magic() { head -c "$2" "$1" | od -An -tx1 | tr -d ' \n'; }
for format in png webp tiff; do
  vb --cover "$work/cover.PNG" --format "$format" --output "$work/$format" "$work/pics/rgb24.bmp" "$work/pics/photo.jpg"
done
for f in rgb24 photo; do
  [ "$(magic "$work/png/VMK_$f.png" 8)" = 89504e470d0a1a0a ] || fail "$f.png is no PNG"
  [ "$(magic "$work/webp/VMK_$f.webp" 4)" = 52494646 ] &&
    [ "$(head -c 12 "$work/webp/VMK_$f.webp" | tail -c 4)" = WEBP ] || fail "$f.webp is no WebP"
  case "$(magic "$work/tiff/VMK_$f.tif"* 4)" in 49492a00 | 4d4d002a) ;; *) fail "$f.tif is no TIFF" ;; esac
done

# Wrong values: exit 2, the option and what it allows named, nothing written.
refused() {
  local want=$1 got=0
  shift
  vb --cover "$work/cover.PNG" --output "$work/refused" "$@" "$work/pics/rgb24.bmp" 2> "$work/refused.log" || got=$?
  [ "$got" -eq 2 ] || fail "exit status $got, not 2: $*"
  grep -qF -- "$want" "$work/refused.log" || fail "no '$want' for $*: $(cat "$work/refused.log")"
  [ ! -e "$work/refused" ] || fail "written despite the refusal: $*"
}
refused "--position: 'middle' is not allowed; allowed: lt|lb|rt|rb|other|tc|bc|lm|rm|cc" --position middle
refused "--opacity: '0' is not allowed; give a whole number from 1 to 100" --opacity 0
refused "--size: 'big' is not allowed; allowed: as-is|width|height|shorter" --size big
refused "--size-percent: '101' is not allowed" --size-percent 101
refused "--margin-x: '-1' is not allowed" --margin-x -1
refused "--margin-y: '250' is not allowed with --margin-percent; give a whole number from 0 to 100" --margin-percent \
  --margin-y 250
refused "--format: 'gif' is not allowed; allowed: bmp|jpg|as-is|png|webp|tiff" --format gif
printf 'GIF89a' > "$work/cover.gif"
refused "--cover: '$work/cover.gif' is not an existing .bmp or .png file" --cover "$work/cover.gif"
echo "cover and formats: ok"
