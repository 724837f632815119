# Sourced by the command-line tests: the programs, a scratch folder, and the
# pictures of a mixed batch made inside it. Arguments: vellumark-batch,
# vmk-script, the work folder, the test data folder.
set -eu
batch=$1 driver=$2 work=$3 testdata=$4
rm -rf "$work"
mkdir -p "$work"
cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

# The command line as its users meet it: no display at all.
vb() { env -u DISPLAY -u QT_QPA_PLATFORM -u WAYLAND_DISPLAY VELLUMARK_REGISTRY="$work/none.reg" "$batch" "$@"; }

# expect_status N COMMAND...: runs it and checks its exit status.
expect_status() {
  local want=$1 got=0
  shift
  "$@" || got=$?
  [ "$got" -eq "$want" ] || fail "exit status $got, not $want: $*"
}

# add_exif IN OUT ORIENTATION: a JPEG with an EXIF segment saying how it is turned.
add_exif() {
  python3 - "$1" "$2" "$3" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
tiff = b'II*\x00' + struct.pack('<IH', 8, 1) + struct.pack('<HHIHH', 0x0112, 3, 1, int(sys.argv[3]), 0) + b'\0\0\0\0'
app1 = b'\xff\xe1' + struct.pack('>H', len(tiff) + 8) + b'Exif\0\0' + tiff
open(sys.argv[2], 'wb').write(data[:2] + app1 + data[2:])
PY
}

# A store file: store FILE then "Name"=value lines.
store() {
  local file=$1
  shift
  { printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]\n'; printf '%s\n' "$@"; } > "$file"
}

# make_pictures FOLDER: BMPs of every depth, JPEGs (baseline, progressive,
# grey, turned by EXIF), a refused name, a damaged JPEG, and the cover.
make_pictures() {
  local dir=$1
  mkdir -p "$dir"
  for f in pal1 pal4 pal4rle pal8 pal8rle pal8topdown rgb16-565 rgb16 rgb24 rgb32 rgb32bf; do
    cp "$testdata/bmpsuite/g/$f.bmp" "$dir/$f.bmp"
  done
  convert "$dir/rgb24.bmp" -quality 90 "$dir/photo.jpg"
  convert "$dir/rgb24.bmp" -interlace Plane "$dir/progressive.jpeg"
  convert "$dir/pal8.bmp" -colorspace Gray "$dir/grey.JPG"
  add_exif "$dir/photo.jpg" "$dir/turned6.jpg" 6
  add_exif "$dir/photo.jpg" "$dir/turned3.jpg" 3
  printf 'not a picture' > "$dir/notes.gif"
  printf '\xff\xd8\xff\xe0\x00\x10JFIF\x00damaged' > "$dir/damaged.jpg"
  cp "$testdata/bmpsuite/g/pal4.bmp" "$work/cover.bmp"
}
