#!/usr/bin/env bash
# Stores and results the user may read but not write, through the real program
# run as a user whom permissions bind ("nobody", as the suites run as root).
set -eu
driver=$1 work=$2 scenarios=$(dirname "$0")
as_user=()
if [ "$(id -u)" = 0 ]; then
  if ! id nobody > /dev/null 2>&1; then
    echo "no user nobody"
    exit 77
  fi
  as_user=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
fi
rm -rf "$work"
mkdir -p "$work"
cd "$work"
WORK="$work" "$scenarios/run-batch.setup.sh"   # pictures and a cover
give() { [ "$(id -u)" = 0 ] && chown -R nobody "$@" || true; }

# A store that may be read, in a folder that takes no new files.
mkdir conf
cat > conf/registry.reg <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Quorvex\VMK]
"CoverFile"="$work/cover.bmp"
"Type"=dword:00000000
"FileFix"="mine_"
"SavePath"="$work/out/"
REG
cp conf/registry.reg stored.reg
# Results from an earlier run in a folder that takes no new files: one the user
# may write, one write-protected.
mkdir out
printf 'old result' > out/mine_grey.bmp
printf 'protected' > out/mine_Second.bmp
mkdir -m 700 runtime  # Qt's runtime folder, kept inside the work folder
give conf out runtime
chmod 444 conf/registry.reg out/mine_Second.bmp
chmod 555 conf out
chmod 755 "$work"

cat > script.vmk <<VMK
# Everything the store holds is loaded, not the fallbacks.
expect FileFix.Text mine_
expect Path.Text $work/out/
expect BMP.Checked true
expect CoverFile.Text $work/cover.bmp
answer OpenFiles $work/pics/grey.bmp $work/pics/Second.BMP
click Open
tab 3
expect Process.Enabled true
click Process
expect-error "Cannot create file \"$work/out/mine_Second.bmp\". Permission denied"
expect-no-message
close
VMK
export VELLUMARK_REGISTRY="$work/conf/registry.reg" XDG_RUNTIME_DIR="$work/runtime"
"${as_user[@]}" "$driver" script.vmk > output.txt 2>&1 || { cat output.txt; exit 1; }
cat output.txt

fail() { echo "FAILED: $1"; exit 1; }
# The save says it failed, once, and the store is as it was.
grep -qxF "error: Failed to set data for 'CoverFile'. Cannot create file \"$work/conf/registry.reg\". Permission denied" output.txt ||
  fail "the failed save was not shown"
cmp -s conf/registry.reg stored.reg || fail "the store changed"
# The writable result was rewritten in place, whole; the protected one kept.
[ "$(head -c 2 out/mine_grey.bmp)" = BM ] || fail "writable result not rewritten"
[ "$(stat -c %s out/mine_grey.bmp)" = 3654 ] || fail "writable result not whole"
[ "$(cat out/mine_Second.bmp)" = protected ] || fail "protected result replaced"
[ "$(LC_ALL=C ls -A out | tr '\n' ' ')" = "mine_Second.bmp mine_grey.bmp " ] || fail "stray files: $(ls -A out)"
[ "$(ls -A conf)" = registry.reg ] || fail "stray files: $(ls -A conf)"
chmod -R u+w "$work"
echo "all as expected"
