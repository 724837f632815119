#!/usr/bin/env bash
# Ctrl+C in the middle of a run stops it as Cancel does: exit status 130, no
# temporary file, and each result on the disk whole (the same bytes as a full
# run's); SIGTERM from a job runner, the same with 143.
. "$(dirname "${BASH_SOURCE[0]}")/pictures.sh"
cp "$testdata/bmpsuite/g/pal4.bmp" cover.bmp
mkdir pics
convert -size 1600x1200 gradient:red-blue pics/p00.bmp
for i in $(seq 1 29); do cp pics/p00.bmp "pics/p$(printf %02d "$i").bmp"; done
C=(--cover "$work/cover.bmp" --format bmp --jobs 2 pics)
expect_status 0 vb "${C[@]}" --output "$work/full"

for sig in INT TERM; do
  out=$work/cut-$sig
  env -u DISPLAY -u QT_QPA_PLATFORM VELLUMARK_REGISTRY="$work/none.reg" "$batch" "${C[@]}" --output "$out" \
    2> "$sig.err" &
  pid=$!
  for _ in $(seq 1 400); do [ "$(ls "$out" 2> /dev/null | wc -l)" -ge 2 ] && break; sleep 0.025; done
  kill -s "$sig" "$pid"
  got=0
  wait "$pid" || got=$?
  want=130
  [ "$sig" = TERM ] && want=143
  [ "$got" -eq "$want" ] || fail "SIG$sig: exit status $got, not $want"
  grep -q "Operation cancelled! [0-9]* of 30 files have been saved." "$sig.err" || fail "SIG$sig: $(cat "$sig.err")"
  n=$(ls "$out" | wc -l)
  [ "$n" -ge 2 ] && [ "$n" -lt 30 ] || fail "SIG$sig: $n results; the run was not cut in the middle"
  for f in "$out"/*; do
    case $f in */VMK_p??.bmp) ;; *) fail "SIG$sig left $f" ;; esac
    cmp -s "$f" "full/$(basename "$f")" || fail "SIG$sig: $f is not whole"
  done
done
echo "interrupt: ok"
