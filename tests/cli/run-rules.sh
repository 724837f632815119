#!/usr/bin/env bash
# What a run says and leaves: exit statuses, --keep-going, --skip-existing,
# --dry-run, --json read by a real JSON parser, and which settings win.
. "$(dirname "${BASH_SOURCE[0]}")/pictures.sh"
make_pictures pics
p=$work/pics
C=(--cover "$work/cover.bmp")

# All written: 0. A refused name is told but is no failure.
expect_status 0 vb "${C[@]}" --output out0 "$p/rgb24.bmp" "$p/notes.gif" "$p/photo.jpg"
[ -f out0/VMK_rgb24.bmp ] && [ -f out0/VMK_photo.jpg ] || fail "results missing"

# A relative source, no output folder: the result beside the source, named
# with its full path.
mkdir -p rel/sub && cp "$p/pal8.bmp" rel/sub/
(cd rel && expect_status 0 vb "${C[@]}" --output "" --json sub/pal8.bmp > ../rel.json)
[ -f rel/sub/VMK_pal8.bmp ] || fail "a relative source's result is not beside it"
grep -qF "\"source\":\"$work/rel/sub/pal8.bmp\"" rel.json || fail "relative source not shown in full: $(cat rel.json)"

# The first failure stops the run, as the window does: later pictures untouched.
expect_status 1 vb "${C[@]}" --output out1 --json "$p/rgb24.bmp" "$p/damaged.jpg" "$p/pal8.bmp" > stop.json 2> stop.err
[ -f out1/VMK_rgb24.bmp ] && [ ! -e out1/VMK_pal8.bmp ] || fail "run did not stop at the failure"
grep -q "Stopped at the first failure" stop.err || fail "stop not told"

# --keep-going: every picture tried, every failure listed at the end, still 1.
printf '\xff\xd8junk' > "$p/damaged2.jpg"
expect_status 1 vb "${C[@]}" --output out2 --keep-going --jobs 2 \
  "$p/damaged.jpg" "$p/rgb24.bmp" "$p/damaged2.jpg" "$p/notes.gif" "$p/pal8.bmp" > /dev/null 2> keep.err
[ -f out2/VMK_rgb24.bmp ] && [ -f out2/VMK_pal8.bmp ] || fail "--keep-going left pictures out"
grep -q "2 of 4 files failed:" keep.err || fail "--keep-going summary: $(cat keep.err)"
[ "$(grep -c '^  Error with file .*damaged' keep.err)" -eq 2 ] || fail "--keep-going does not list each failure"

# --json: one object per entry, in list order, read by a real JSON parser;
# names with quotes, backslashes, tabs, newlines and bytes that are not UTF-8.
odd=$(printf 'we"ird\\na\tme\nx\xff.bmp')
cp "$p/pal1.bmp" "$p/$odd"
printf '%s\0' "$p/$odd" "$p/damaged.jpg" "$p/notes.gif" "$p/pal1.bmp" > list0
expect_status 1 vb "${C[@]}" --output out3 --json --files-from - -0 < list0 > run.json 2> /dev/null
python3 - run.json "$p" <<'PY'
import json, sys
rows = [json.loads(line) for line in open(sys.argv[1], encoding='utf-8')]
p = sys.argv[2]
assert [sorted(r) for r in rows] == [['message', 'result', 'source', 'status']] * 4, rows
assert [r['status'] for r in rows] == ['written', 'failed', 'not run', 'not run'], rows
assert rows[0]['source'] == p + '/we"ird\\na\tme\nx\ufffd.bmp', rows[0]
assert rows[1]['message'].startswith('JPEG error'), rows[1]
PY
[ "$(ls out3)" != "" ] || fail "odd name not written"
python3 -c 'import json, sys; rows = [json.loads(l) for l in open(sys.argv[1])]; assert [r["status"] for r in rows] == ["written", "failed", "not run"], rows' stop.json

# --skip-existing leaves results that exist, and makes the missing ones.
echo keep > out2/VMK_rgb24.bmp
rm out2/VMK_pal8.bmp
expect_status 0 vb "${C[@]}" --output out2 --skip-existing --json "$p/rgb24.bmp" "$p/pal8.bmp" > skip.json
[ "$(cat out2/VMK_rgb24.bmp)" = keep ] || fail "--skip-existing replaced a result"
[ -s out2/VMK_pal8.bmp ] || fail "--skip-existing made nothing"
python3 -c 'import json, sys; rows = [json.loads(l) for l in open(sys.argv[1])]; assert [r["status"] for r in rows] == ["skipped", "written"], rows' skip.json

# --exists keep-both: the taken name left, the new result under the first
# free number; --exists skip as --skip-existing; --on-failure go-on as
# --keep-going. The window's rules, so its results.
echo keep > out2/VMK_pal4.bmp
expect_status 0 vb "${C[@]}" --output out2 --exists keep-both --json "$p/pal4.bmp" "$p/pal4.bmp" > both.json
[ "$(cat out2/VMK_pal4.bmp)" = keep ] || fail "--exists keep-both replaced a result"
cmp -s "out2/VMK_pal4 (2).bmp" "out2/VMK_pal4 (3).bmp" || fail "--exists keep-both: $(ls out2)"
grep -qF "\"result\":\"$work/out2/VMK_pal4 (3).bmp\"" both.json || fail "--json does not name the kept name: $(cat both.json)"
expect_status 0 vb "${C[@]}" --output out2 --exists skip "$p/pal4.bmp"
[ "$(cat out2/VMK_pal4.bmp)" = keep ] || fail "--exists skip replaced a result"
expect_status 1 vb "${C[@]}" --output out5 --on-failure go-on "$p/damaged.jpg" "$p/rgb24.bmp" > /dev/null 2> goon.err
[ -f out5/VMK_rgb24.bmp ] && grep -q "1 of 2 files failed:" goon.err || fail "--on-failure go-on: $(cat goon.err)"

# --dry-run reads no picture (not even a damaged cover) and writes nothing.
printf 'BMjunk' > broken-cover.bmp
expect_status 0 vb --cover broken-cover.bmp --output dry --dry-run "$p/damaged.jpg" "$p/rgb24.bmp" > dry.out
[ ! -e dry ] || fail "--dry-run made the output folder"
grep -qxF "$p/damaged.jpg -> $work/dry/VMK_damaged.jpg" dry.out || fail "--dry-run output: $(cat dry.out)"
expect_status 1 vb --cover broken-cover.bmp --output dry "$p/rgb24.bmp" 2> /dev/null

# Settings: the window's store by default (its file found by the window's
# rule), --settings FILE in its place, and an option over both.
mkdir -p xdg/vellumark
store xdg/vellumark/registry.reg "\"CoverFile\"=\"$work/cover.bmp\"" '"Type"=dword:00000000' '"FileFix"="store_"' \
  "\"SavePath\"=\"$work/by-store/\""
store other.reg "\"CoverFile\"=\"$work/cover.bmp\"" '"FixType"=dword:00000001' '"FileFix"="_file"' \
  "\"SavePath\"=\"$work/by-file/\""
run_xdg() { env -u DISPLAY -u QT_QPA_PLATFORM -u VELLUMARK_REGISTRY XDG_CONFIG_HOME="$work/xdg" "$batch" "$@"; }
expect_status 0 run_xdg "$p/photo.jpg"
[ -f by-store/store_photo.bmp ] || fail "the store's settings were not used"
expect_status 0 run_xdg --settings other.reg "$p/photo.jpg"
# Nothing of the window's store: its format (bmp) gives way to the fallback (as-is).
[ -f by-file/photo_file.jpg ] || fail "--settings FILE was not used alone"
expect_status 0 run_xdg --settings other.reg --prefix opt_ --format bmp --output by-option "$p/photo.jpg"
[ -f by-option/opt_photo.bmp ] || fail "options did not win"
# The same result whichever way a setting arrives.
cmp -s by-store/store_photo.bmp by-option/opt_photo.bmp || fail "store and options give different results"

# Usage errors: status 2, the option and what it allows named, nothing written.
usage() {
  local want=$1 got=0
  shift
  vb "$@" > /dev/null 2> usage.err || got=$?
  [ "$got" -eq 2 ] || fail "status $got, not 2: $*"
  grep -qF -- "$want" usage.err || fail "'$want' not in: $(cat usage.err)"
}
usage "no pictures given" "${C[@]}"
usage "--bogus: no such option" "${C[@]}" --bogus "$p/rgb24.bmp"
usage "--position: 'centre' is not allowed; allowed: lt|lb|rt|rb|other" "${C[@]}" --position centre "$p/rgb24.bmp"
usage "--format: 'gif' is not allowed; allowed: bmp|jpg|as-is|png|webp|tiff" "${C[@]}" --format gif "$p/rgb24.bmp"
usage "--quality: '101' is not allowed; give a whole number from 1 to 100" "${C[@]}" --quality 101 "$p/rgb24.bmp"
usage "--quality: 'high'" "${C[@]}" --quality high "$p/rgb24.bmp"
usage "--left: '1.5' is not allowed" "${C[@]}" --left 1.5 "$p/rgb24.bmp"
usage "--top: '99999999999'" "${C[@]}" --top 99999999999 "$p/rgb24.bmp"
usage "--key-colour: 'red' is not allowed; give six hex digits" "${C[@]}" --key-colour red "$p/rgb24.bmp"
usage "--jobs: '0' is not allowed" "${C[@]}" --jobs 0 "$p/rgb24.bmp"
usage "--exists: 'both' is not allowed; give overwrite|skip|keep-both" "${C[@]}" --exists both "$p/rgb24.bmp"
usage "--on-failure: 'continue' is not allowed; give stop|go-on" "${C[@]}" --on-failure continue "$p/rgb24.bmp"
usage "--shard: '5/4' is not allowed; give K/N with 1 <= K <= N" "${C[@]}" --shard 5/4 "$p/rgb24.bmp"
usage "--shard: '0/4'" "${C[@]}" --shard 0/4 "$p/rgb24.bmp"
usage "--shard: '2'" "${C[@]}" --shard 2 "$p/rgb24.bmp"
usage "--output: needs a value (DIR)" "${C[@]}" "$p/rgb24.bmp" --output
usage "--dry-run: takes no value" "${C[@]}" --dry-run=yes "$p/rgb24.bmp"
usage "--settings: cannot read $work/missing.reg" --settings "$work/missing.reg" "$p/rgb24.bmp"
usage "--files-from: cannot read $work/missing.txt" "${C[@]}" --files-from "$work/missing.txt"
usage "no cover: give --cover FILE" "$p/rgb24.bmp"
usage "--cover: '$p/photo.jpg' is not an existing .bmp or .png file" --cover "$p/photo.jpg" "$p/rgb24.bmp"
usage "--cover: '$work/nothing.bmp' is not an existing .bmp or .png file" --cover "$work/nothing.bmp" "$p/rgb24.bmp"
[ ! -e "$work/VMK_rgb24.bmp" ] && [ ! -e "$p/VMK_rgb24.bmp" ] || fail "a usage error wrote a result"

# A JPEG cut short is written as the window writes it, exit 0, with a note on
# standard error and in its JSON message.
head -c "$(($(stat -c %s "$p/photo.jpg") / 2))" "$p/photo.jpg" > "$p/half.jpg"
expect_status 0 vb "${C[@]}" --output outcut --json "$p/half.jpg" > cut.json 2> cut.err
[ -f outcut/VMK_half.jpg ] || fail "a JPEG cut short was not written"
grep -qF "Note on file $p/half.jpg: cut short, its JPEG data ends early" cut.err || fail "cut short not told: $(cat cut.err)"
grep -qF '"message":"cut short, its JPEG data ends early"' cut.json || fail "cut short not in JSON: $(cat cut.json)"

# --help lists every option with its defaults; --version.
expect_status 0 vb --help > help.txt
for o in --cover --position --left --top --transparent --opaque --auto-detect --key-colour --format --quality \
         --prefix --suffix --output --recursive --keep-subfolders --files-from -0 --jobs --shard --dry-run --exists \
         --skip-existing --on-failure --keep-going --json --verbose --settings --help --version; do
  grep -qE "^  $o( |$)" help.txt || fail "--help lacks $o"
done
grep -qF '[as-is]' help.txt && grep -qF '[85]' help.txt && grep -qF '[overwrite]' help.txt && grep -qF '[stop]' help.txt && grep -qF '["VMK_"]' help.txt || fail "--help lacks defaults"
expect_status 0 vb --version > version.txt
grep -qE '^vellumark-batch [0-9]+\.[0-9]+' version.txt || fail "--version: $(cat version.txt)"

# --keep-subfolders: a folder's subfolders again under the output folder, a
# picture named on its own in the folder itself; without it, all in the folder.
# Sharded, each machine plans the same structure.
mkdir -p shoot/day2/late shoot/day10
cp "$p/pal4.bmp" shoot/IMG_10.bmp && cp "$p/pal4.bmp" shoot/day2/IMG_2.bmp
cp "$p/pal8.bmp" shoot/day2/late/IMG_3.bmp && cp "$p/pal8.bmp" shoot/day10/IMG_1.bmp
expect_status 0 vb "${C[@]}" --output tree --recursive --keep-subfolders shoot "$p/pal1.bmp"
for f in tree/VMK_IMG_10.bmp tree/day2/VMK_IMG_2.bmp tree/day2/late/VMK_IMG_3.bmp tree/day10/VMK_IMG_1.bmp \
         tree/VMK_pal1.bmp; do
  [ -f "$f" ] || fail "--keep-subfolders: $f missing"
done
expect_status 0 vb "${C[@]}" --output flat --recursive shoot
[ -f flat/VMK_IMG_3.bmp ] && [ ! -e flat/day2 ] || fail "subfolders kept without --keep-subfolders"
for k in 1 2; do expect_status 0 vb "${C[@]}" --output sharded --recursive --keep-subfolders --shard $k/2 shoot; done
[ -f sharded/day2/late/VMK_IMG_3.bmp ] && [ -f sharded/VMK_IMG_10.bmp ] || fail "--shard lost the subfolders"

# --verbose: a line per result on standard output; nothing there without it.
expect_status 0 vb "${C[@]}" --output out4 --verbose "$p/pal4.bmp" > verbose.out
grep -qxF "$p/pal4.bmp -> $work/out4/VMK_pal4.bmp" verbose.out || fail "--verbose: $(cat verbose.out)"
expect_status 0 vb "${C[@]}" --output out4 "$p/pal4.bmp" > quiet.out 2> quiet.err
[ ! -s quiet.out ] && [ ! -s quiet.err ] || fail "a quiet run printed something"
# On a terminal, a progress line on standard error, erased at the end
# (script(1) gives the run a terminal).
if command -v script > /dev/null; then
  script -qec "env -u DISPLAY -u QT_QPA_PLATFORM VELLUMARK_REGISTRY=$work/none.reg $batch --cover $work/cover.bmp \
    --output $work/tty $p/pal4.bmp $p/pal8.bmp" /dev/null > tty.out
  grep -qE '2/2 .* pictures/s .*left' tty.out || fail "no progress line on a terminal: $(od -c tty.out | head)"
  [ "$(tail -c 4 tty.out | od -An -c | tr -d ' ')" = '\r033[K' ] || fail "the progress line is not erased"
fi
echo "run rules: ok"
