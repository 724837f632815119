#!/usr/bin/env bash
# For a mixed batch and each save format, the command line writes what the
# window's run writes with the same settings and list, byte for byte: both
# stop at the damaged file, so the picture after it is written by neither.
# photo.jpg is listed twice: the window asks first, and is told to go on.
. "$(dirname "${BASH_SOURCE[0]}")/pictures.sh"
make_pictures pics
list=()
for f in rgb24.bmp pal1.bmp photo.jpg pal4.bmp turned6.jpg pal4rle.bmp pal8.bmp notes.gif pal8rle.bmp \
         pal8topdown.bmp grey.JPG rgb16-565.bmp turned3.jpg rgb16.bmp progressive.jpeg rgb32.bmp rgb32bf.bmp \
         damaged.jpg photo.jpg; do
  list+=("$work/pics/$f")
done

# run_case NAME STORED-FORMAT VALUE...: the window's run and the command
# line's, each with a store holding the values.
run_case() {
  local name=$1 type=$2
  shift 2
  reg=$work/$name.reg
  store "$reg" "\"CoverFile\"=\"$work/cover.bmp\"" "\"Type\"=dword:0000000$type" "\"SavePath\"=\"$work/window-$name/\"" "$@"

  { echo "workers 3"; echo "answer OpenFiles ${list[*]}"; echo "click Open"; echo "tab 3"; echo "answer Question yes"; echo "click Process"; } \
    > "$work/$name.vmk"
  QT_QPA_PLATFORM=offscreen VELLUMARK_REGISTRY="$reg" "$driver" "$work/$name.vmk" > "$work/$name.window.log"
  grep -q "error: Error with file $work/pics/damaged.jpg" "$work/$name.window.log" || fail "$name: window did not stop"

  got=0
  env -u DISPLAY -u QT_QPA_PLATFORM VELLUMARK_REGISTRY="$reg" "$batch" --output "$work/cli-$name" --jobs 3 \
    "${list[@]}" 2> "$work/$name.cli.log" || got=$?
  [ "$got" -eq 1 ] || fail "$name: exit status $got, not 1"
  grep -qF "Error with file $work/pics/notes.gif: Invalid file extension" "$work/$name.cli.log" ||
    fail "$name: refusal not told"
  grep -qF "Error with file $work/pics/damaged.jpg" "$work/$name.cli.log" || fail "$name: failure not told"

  [ "$(ls "$work/window-$name" | wc -l)" -eq 16 ] || fail "$name: window wrote $(ls "$work/window-$name" | wc -l) files"
  diff -r "$work/window-$name" "$work/cli-$name" || fail "$name: results differ from the window's"
}
run_case bmp 0 '"PosType"=dword:00000003' '"Transparent"=dword:00000001' '"AutoTrans"=dword:00000001' \
  '"FixType"=dword:00000001' '"FileFix"="_s"'
run_case jpg 1 '"PosType"=dword:00000004' '"CoverLeft"=dword:fffffffd' '"CoverTop"=dword:00000005' \
  '"Transparent"=dword:00000001' '"AutoTrans"=dword:00000000' '"TransColor"=dword:00000000' '"JPGQ"=dword:00000046' \
  '"FileFix"="VMK_"'
run_case as-is 2 '"PosType"=dword:00000000' '"Transparent"=dword:00000000' '"JPGQ"=dword:0000005a' \
  '"FileFix"="stamped-"'
# The formats really differ: BMP, JPEG, and each source's own.
[ -f "$work/cli-bmp/photo_s.bmp" ] && [ -f "$work/cli-jpg/VMK_pal8.jpg" ] && [ -f "$work/cli-as-is/stamped-photo.jpg" ] &&
  [ -f "$work/cli-as-is/stamped-pal8.bmp" ] || fail "unexpected result names"
echo "window parity: ok"
