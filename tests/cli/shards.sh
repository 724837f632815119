#!/usr/bin/env bash
# One batch of 40 pictures split into 4 shards run at the same time (xargs -P4)
# writes, together, exactly what one run writes, byte for byte; so does a
# second try with --skip-existing after a shard was lost.
. "$(dirname "${BASH_SOURCE[0]}")/pictures.sh"
make_pictures src
mkdir -p pics/a pics/b pics/a/deeper pics/.hidden
i=0
for f in src/*.bmp src/*.jpg src/*.jpeg src/*.JPG; do
  case $f in *damaged*) continue ;; esac
  for sub in a b a/deeper; do
    [ $i -lt 39 ] || break
    cp "$f" "pics/$sub/$i-$(basename "$f")"
    i=$((i + 1))
  done
done
# Two sources whose results share a name: the later in the sorted list wins,
# in one run as in shards.
cp src/rgb24.bmp pics/a/same.bmp
cp src/pal8.bmp pics/b/same.bmp
rm "$(ls pics/a/deeper/* | head -1)"
[ "$(find pics -type f | wc -l)" -eq 40 ] || fail "not 40 pictures"
cp src/pal1.bmp pics/.hidden/skipped.bmp
ln -s "$work/pics" pics/b/loop   # a link back into the tree is not entered

C=(--cover "$work/cover.bmp" --format jpg --quality 80 --recursive)
expect_status 0 vb "${C[@]}" --output "$work/one" --jobs 2 pics
[ "$(ls one | wc -l)" -eq 39 ] || fail "one run wrote $(ls one | wc -l) results"
cmp -s one/VMK_same.jpg <(vb "${C[@]}" --output "$work/b-only" pics/b/same.bmp > /dev/null; cat b-only/VMK_same.jpg) ||
  fail "the later source of a shared name did not win"

printf '%s\n' 1/4 2/4 3/4 4/4 |
  xargs -P4 -I{} env -u DISPLAY -u QT_QPA_PLATFORM VELLUMARK_REGISTRY="$work/none.reg" \
    "$batch" "${C[@]}" --output "$work/shards" --jobs 1 --shard {} pics
diff -r one shards || fail "4 shards differ from one run"

# Each shard takes its own part: the parts' lists add up to the whole list once.
for k in 1 2 3 4; do vb "${C[@]}" --output "$work/dry" --shard $k/4 --dry-run --json pics; done > parts.json
python3 - parts.json <<'PY'
import json, sys
rows = [json.loads(l) for l in open(sys.argv[1])]
sources = [r['source'] for r in rows]
assert len(sources) == 40 and len(set(sources)) == 40, len(sources)
assert sum(r['status'] == 'skipped' for r in rows) == 1, rows
PY

# A shard lost: its results gone. The re-run with --skip-existing finishes the job.
rm shards/$(ls shards | sed -n 3p) shards/$(ls shards | sed -n 17p)
expect_status 0 vb "${C[@]}" --output "$work/shards" --skip-existing pics
diff -r one shards || fail "--skip-existing re-run differs"
echo "shards: ok"
