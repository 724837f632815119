#!/usr/bin/env bash
# Pictures for the batch list scenario, made in the work folder.
set -eu

. "$(dirname "${BASH_SOURCE[0]}")/bmp-writer.sh"

bmp a.bmp 5 3 0x1E140A
bmp b.bmp 2 7 0x3C3228
bmp c.bmp 6 4 0x030201
bmp cover.bmp 2 2 0x00FF00
