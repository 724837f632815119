#!/usr/bin/env bash
# The same pictures as the batch run scenario.
exec "$(dirname "$0")/run-batch.setup.sh"
