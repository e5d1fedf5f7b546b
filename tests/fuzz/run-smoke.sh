#!/bin/sh
# run-smoke.sh TARGET SEED_DIR WORK_DIR SECONDS
# Runs the seeds, then mutates for SECONDS into a scratch corpus. Any crash fails the test.
set -e
target=$1 seeds=$2 work=$3 seconds=$4
rm -rf "$work"
mkdir -p "$work"
if [ -d "$seeds" ]; then
    exec "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=30 \
        -artifact_prefix="$work/" "$work" "$seeds"
fi
exec "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=30 \
    -artifact_prefix="$work/" "$work"
