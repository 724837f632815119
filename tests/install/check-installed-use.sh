#!/usr/bin/env bash
# Installs into a prefix that the user cannot write and runs the installed
# vmk-script as an ordinary user (nobody, when we are root): the JPEG save
# preview works, its trial file goes to the user's runtime folder, and a
# relative output folder lands in the home folder. Exit 77: no such user.
set -eu
cmake=$1 build=$2 script=$3
fail() { echo "installed use: $*" >&2; exit 1; }

if [ "$(id -u)" -eq 0 ]; then
  id -u nobody > /dev/null 2>&1 || { echo "installed use: no unprivileged user, skipped"; exit 77; }
  as_user() { setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups -- "$@"; }
  owner=nobody
else
  as_user() { "$@"; }
  owner=$(id -un)
fi

# A scratch folder every user can enter, whoever owns the build folder.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vmk-installed-XXXXXX")
cleanup() { chmod -R u+w "$scratch" 2> /dev/null || true; rm -rf "$scratch"; }
trap cleanup EXIT
chmod 755 "$scratch"
prefix=$scratch/prefix
"$cmake" --install "$build" --prefix "$prefix" > /dev/null
"$cmake" --install "$build" --prefix "$prefix" --component vmk-script > /dev/null
chmod -R a-w "$prefix"

pics=$scratch/pics home=$scratch/home runtime=$scratch/runtime locked=$scratch/locked
mkdir -p "$pics" "$home" "$runtime" "$locked"
chmod 555 "$locked"
chown "$owner" "$home" "$runtime"
chmod 700 "$home" "$runtime"

. "$(dirname "$0")/../scenarios/bmp-writer.sh"
bmp "$pics/photo.bmp" 64 48 0x808080
bmp "$pics/cover.bmp" 8 6 0x00FF00
chmod -R a+rX "$pics"
sed -e "s|\$PICS|$pics|g" "$script" > "$pics/script.vmk"
chmod a+r "$pics/script.vmk"
# A name the trial must leave alone.
printf 'keep' > "$runtime/Test0.jpg"
chown "$owner" "$runtime/Test0.jpg"

run() {  # run RUNTIME_FOLDER: the installed driver, as the user, in a plain environment
  (cd "$home" && as_user env -i PATH=/usr/bin:/bin HOME="$home" XDG_RUNTIME_DIR="$1" \
     QT_QPA_PLATFORM=offscreen VELLUMARK_REGISTRY="$home/registry.reg" \
     ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" \
     "$prefix/bin/vmk-script" "$pics/script.vmk")
}

out=$(run "$runtime" 2>&1) || fail "the script failed: $out"
case $out in *error:*) fail "the preview or the run failed: $out" ;; esac
[ -f "$home/out/VMK_photo.jpg" ] || fail "a relative output folder did not land in the home folder"
[ -f "$home/photos/new/VMK_photo.jpg" ] || fail "~/photos/new did not land in the home folder"
[ "$(cat "$runtime/Test0.jpg")" = keep ] || fail "the trial took a name that was in use"
[ -z "$(ls "$runtime" | grep -v '^Test0\.jpg$' || true)" ] || fail "the trial left files: $(ls "$runtime")"
[ "$(ls "$prefix/bin" | sort | tr '\n' ' ')" = "vellumark vellumark-batch vmk-script " ] || fail "something was written beside the program"

# The installed command line, as the same user over the store the window saved:
# the window's bytes, and a stored relative folder lands in the home folder too.
mv "$home/out/VMK_photo.jpg" "$home/window.jpg"
as_user sed -i 's|^"SavePath"=.*|"SavePath"="out"|' "$home/registry.reg"
out=$(cd "$pics" && as_user env -i PATH=/usr/bin:/bin HOME="$home" VELLUMARK_REGISTRY="$home/registry.reg" \
  ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" \
  "$prefix/bin/vellumark-batch" "$pics/photo.bmp" 2>&1) || fail "vellumark-batch failed: $out"
cmp -s "$home/out/VMK_photo.jpg" "$home/window.jpg" || fail "vellumark-batch did not write the window's result in ~/out"

# The trial file really goes to the runtime folder: one that the user cannot
# write makes the preview fail there, naming it.
out=$(run "$locked" 2>&1) || true
case $out in *"error: "*"$locked/Test0.jpg"*) ;; *) fail "the trial file did not go to the runtime folder: $out" ;; esac
echo "installed use: ok"
