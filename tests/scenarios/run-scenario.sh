#!/usr/bin/env bash
# Runs one scenario script through vmk-script in a fresh work folder.
# The script may refer to $WORK (its own scratch folder) and $TESTDATA; both are
# substituted before it runs. Settings go to a store inside the work folder.
set -eu
driver=$1 script=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
export VELLUMARK_REGISTRY="$work/registry.reg"
testdata=${VMK_TESTDATA:-}
sed -e "s|\$WORK|$work|g" -e "s|\$TESTDATA|$testdata|g" "$script" > "$work/script.vmk"
# A scenario may bring a set-up script of the same name (pictures, folders, a store).
setup="${script%.vmk}.setup.sh"
if [ -x "$setup" ]; then (cd "$work" && WORK="$work" TESTDATA="$testdata" "$setup"); fi
cd "$work"
exec "$driver" "$work/script.vmk"
