#!/bin/sh
# bench/hostile/run.sh BUILD_DIR
# A paired phone's request latency while the running program is attacked: slowloris from an
# unpaired host, huge bodies dripped by a paired key, decompression-bomb thumbnails in
# parallel, password guessing from many addresses. Each figure: the phone's 99th percentile
# against the 100 ms target (ratio = 100 ms / p99), with the quiet p99 of the same run.
set -u
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
bin="$build/shell/vellumo"
[ -x "$bin" ] || { echo "hostile: $bin not built" >&2; exit 1; }
exec /usr/bin/python3 "$here/phone_latency.py" "$bin" "${BENCH_HOSTILE_REQUESTS:-200}"
