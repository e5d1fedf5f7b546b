#!/bin/sh
# Runs every benchmark topic: bench/<topic>/run.sh BUILD_DIR. Each prints its figures as ratios
# against a reference measured in the same run.
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
status=0
for script in "$here"/*/run.sh; do
    [ -x "$script" ] || continue
    echo "== $(basename "$(dirname "$script")")"
    "$script" "$build" || status=1
done
exit $status
