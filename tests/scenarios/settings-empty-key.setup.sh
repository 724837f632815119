#!/bin/sh
# The key exists but holds no values.
printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\VMK]\n' > "$WORK/registry.reg"
