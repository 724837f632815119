#!/usr/bin/env bash
# A set-up file as a hand or another program left it: a value of the wrong
# type, a name this program does not know, a line that is no value; and a
# file that holds no settings at all.
set -eu
cat > damaged.reg <<REG
REGEDIT4

[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]
"FileFix"="from_file_"
"JPGQ"="ninety"
"Type"=dword:00000003
"Frobnicate"=dword:00000001
"Opacity"=dword:zz
"SavePath"="$WORK/dmg/"
REG
printf 'notes\n' > notes.txt
