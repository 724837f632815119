#!/usr/bin/env bash
# A store and results that may be read but not written, in folders that take no
# new files, through the real program run as "nobody" (the suites run as root).
set -eu
driver=$1 work=$2 here=$(dirname "$0")
run=()
if [ "$(id -u)" = 0 ]; then
  id nobody > /dev/null 2>&1 || { echo "no user nobody"; exit 77; }
  run=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
fi
rm -rf "$work" && mkdir -p "$work/conf" "$work/out" && cd "$work"
WORK="$work" "$here/run-batch.setup.sh"   # pictures and a cover
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]\n"Type"=dword:00000000\n"FileFix"="mine_"\n"SavePath"="%s/out/"\n' \
  "$work" > conf/registry.reg
cp conf/registry.reg stored.reg
printf 'old result' > out/mine_grey.bmp    # the user may write it
printf 'protected' > out/mine_Second.bmp   # the user may not
mkdir -m 700 runtime                       # Qt's runtime folder, kept in here
[ "$(id -u)" = 0 ] && chown -R nobody conf out runtime
chmod 444 conf/registry.reg out/mine_Second.bmp
chmod 555 conf out
cat > script.vmk <<VMK
# What the store holds is loaded, not the fallbacks.
expect FileFix.Text mine_
expect Path.Text $work/out/
expect BMP.Checked true
answer OpenFiles $work/pics/grey.bmp $work/pics/Second.BMP
click Open
text CoverFile $work/cover.bmp
tab 3
click Process
expect-error "Error with file $work/pics/Second.BMP: Cannot create file \"$work/out/mine_Second.bmp\". Permission denied"
expect-no-message
close
VMK
VELLUMARK_REGISTRY="$work/conf/registry.reg" XDG_RUNTIME_DIR="$work/runtime" \
  "${run[@]}" "$driver" script.vmk > output.txt 2>&1 || { cat output.txt; exit 1; }
fail() { cat output.txt; echo "FAILED: $1"; exit 1; }
grep -qxF "error: Failed to set data for 'CoverFile'. Cannot create file \"$work/conf/registry.reg\". Permission denied" \
  output.txt || fail "the failed save was not shown"
cmp -s conf/registry.reg stored.reg || fail "the store changed"
[ "$(head -c 2 out/mine_grey.bmp)$(stat -c %s out/mine_grey.bmp)" = BM3654 ] || fail "not rewritten in place"
[ "$(cat out/mine_Second.bmp)" = protected ] || fail "protected result replaced"
[ "$(LC_ALL=C ls -A out conf | tr '\n' ' ')" = "conf: registry.reg  out: mine_Second.bmp mine_grey.bmp " ] ||
  fail "stray files: $(ls -A out conf)"
