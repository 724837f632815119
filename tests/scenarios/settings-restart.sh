#!/usr/bin/env bash
# Three runs of vmk-script over one store: each run must start with exactly the
# twelve settings the run before it left.
set -eu
driver=$1 work=$2
# A driver that accepts an unknown command runs no scripts yet: nothing to test.
if printf 'no-such-command\n' | "$driver" > /dev/null 2>&1; then
  echo "vmk-script does not run scripts yet"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work"
export VELLUMARK_REGISTRY="$work/registry.reg"
store=$VELLUMARK_REGISTRY

# What an earlier run left: unusual values everywhere, an empty name text.
cat > "$store" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Quorvex\VMK]
"CoverFile"="/no/such folder/cover \"one\".bmp"
"PosType"=dword:00000003
"CoverLeft"=dword:fffffff9
"CoverTop"=dword:80000000
"Transparent"=dword:00000000
"AutoTrans"=dword:00000001
"TransColor"=dword:80a0b0c0
"Type"=dword:00000001
"JPGQ"=dword:0000002a
"FixType"=dword:00000001
"FileFix"=""
"SavePath"="/tmp/out dir/"
REG

run() {
  echo "== $1"
  cat > "$work/$1.vmk"
  (cd "$work" && "$driver" "$work/$1.vmk")
}

run first <<'VMK'
expect CoverFile.Text "/no/such folder/cover \"one\".bmp"
expect RB.Checked true
expect LT.Checked false
expect CoverLeft.Value -7
expect CoverTop.Value -2147483648
expect CoverTransparent.Checked false
expect AutoDetTrans.Checked true
expect TransColor.Color 0x80A0B0C0
expect JPG.Checked true
expect JPGQuality.Value 42
expect Suffix.Checked true
expect FileFix.Text ""
expect Path.Text "/tmp/out dir/"
# Transparency on with Auto Detect off, among other changes.
tab 1
text CoverFile /no/such/logo.bmp
check OtherPos true
check CoverTransparent true
check AutoDetTrans false
tab 2
check BMP true
text JPGQuality 7
check Prefix true
text FileFix pre_
tab 3
text Path ""
# The folder choices: an older store has neither, so each shows its default.
tab 0
expect Subfolders.Checked false
expect KeepSubfolders.Checked true
check Subfolders true
check KeepSubfolders false
close
VMK

grep -qx '"TransColor"=dword:80a0b0c0' "$store" || { echo "colour not kept exactly"; exit 1; }
grep -qx '"CoverTop"=dword:80000000' "$store" || { echo "offset not kept exactly"; exit 1; }
grep -qx '"SavePath"=""' "$store" || { echo "empty folder not saved as empty text"; exit 1; }

run second <<'VMK'
expect CoverFile.Text /no/such/logo.bmp
expect OtherPos.Checked true
expect RB.Checked false
expect CoverLeft.Value -7
expect CoverTop.Value -2147483648
expect CoverTransparent.Checked true
expect AutoDetTrans.Checked false
expect TransColor.Color 0x80A0B0C0
expect BMP.Checked true
expect JPG.Checked false
expect JPGQuality.Value 7
expect Prefix.Checked true
expect FileFix.Text pre_
expect Path.Text ""
expect Subfolders.Checked true
expect KeepSubfolders.Checked false
# Now the other way round: transparency off with Auto Detect on.
tab 1
check AutoDetTrans true
check CoverTransparent false
tab 2
check AsIs true
text FileFix ""
close
VMK

run third <<'VMK'
expect CoverTransparent.Checked false
expect AutoDetTrans.Checked true
expect AsIs.Checked true
expect FileFix.Text ""
expect OtherPos.Checked true
expect CoverLeft.Value -7
expect TransColor.Color 0x80A0B0C0
close
VMK
echo "settings survived three restarts"
