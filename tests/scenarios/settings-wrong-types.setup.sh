#!/bin/sh
# Every value stored with the other type, or out of its range.
cat > "$WORK/registry.reg" <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Quorvex\VMK]
"CoverFile"=dword:00000001
"PosType"="4"
"CoverLeft"="12"
"CoverTop"=hex:01,02
"Transparent"="0"
"AutoTrans"=dword:00000002
"TransColor"="255"
"Type"="0"
"JPGQ"=dword:000000fa
"FixType"="1"
"FileFix"=dword:00000000
"SavePath"=dword:00000000
REG
