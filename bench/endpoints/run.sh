#!/bin/sh
# bench/endpoints/run.sh BUILD_DIR
# The phone endpoints end to end over HTTP on loopback:
# 1. 300 JPEGs of 3-8 MB (BENCH_ENDPOINTS_PHOTOS) posted to "/import" one after the other, then
#    by three phones at once. Every "ok" comes only once the photo is stored and on the disk, so
#    the timed run ends with the last answer. Baselines over the same files in this run: `cp`
#    then `md5sum`, and `cp`, `md5sum` and `sync` (the same bytes made durable). Ratio = our
#    throughput / baseline throughput; target >= 0.6 against the durable baseline.
# 2. "/verify" with 10 000 known tokens: target < 50 ms.
# 3. "/date" on a 100 000-photo library: target < 100 ms; with a device filter < 200 ms.
# 4. "/thumb" of a stored thumbnail with wrk and Connection: close: target >= 5000 requests/s.
set -u
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
bin="$build/bench/endpoints/bench_endpoints"
[ -x "$bin" ] || { echo "endpoints: $bin not built (configure with -DVELLUMO_BENCH=ON)" >&2; exit 1; }
duration=${BENCH_ENDPOINTS_SECONDS:-10}

# The photos take a while to make; they are kept in the build folder between runs.
count=${BENCH_ENDPOINTS_PHOTOS:-300}
photos="$build/bench/endpoints/photos"
if [ "$(ls "$photos" 2>/dev/null | wc -l)" -ne "$count" ]; then
    rm -rf "$photos"
    "$bin" gen-photos "$photos" "$count" 3000000 8000000 || { echo "endpoints: no photos" >&2; exit 1; }
fi
work=$(mktemp -d "$build/bench/endpoints/work.XXXXXX")
server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
status=0
now() { date +%s.%N; }

# 1. Uploads. The baseline copies the files into an empty folder, then digests the copies.
mib=$(du -sm --apparent-size "$photos" | awk '{ print $1 }')
# Each timed phase starts with no write-back pending from the one before.
baseline() {
    rm -rf "$work/cp" && mkdir "$work/cp"
    sync
    s=$(now)
    cp "$photos"/* "$work/cp"/ && md5sum "$work/cp"/* >/dev/null
    [ "${1:-}" = sync ] && sync
    e=$(now)
    rm -rf "$work/cp"
    awk -v s="$s" -v e="$e" 'BEGIN { print e - s }'
}
upload() {
    sync
    "$bin" upload "$photos" "$work/up" "$1" >"$work/up.txt" || { cat "$work/up.txt" >&2; return 1; }
    rm -rf "$work/up"
    awk '{ for (i = 1; i <= NF; i++) if ($i == "seconds") print $(i + 1) }' "$work/up.txt"
}
base=$(baseline)
sbase=$(baseline sync)
seq=$(upload 1) || status=1
base2=$(baseline)
sbase2=$(baseline sync)
par=$(upload 3) || status=1
if [ $status -eq 0 ]; then
    awk -v m="$mib" -v b1="$base" -v b2="$base2" -v d1="$sbase" -v d2="$sbase2" -v s="$seq" -v p="$par" 'BEGIN {
        b = (b1 < b2 ? b1 : b2)
        d = (d1 < d2 ? d1 : d2)
        printf "endpoints  baseline cp+md5sum %.2f s (%.0f MiB/s) over %d MiB\n", b, m / b, m
        printf "endpoints  baseline cp+md5sum+sync %.2f s (%.0f MiB/s)\n", d, m / d
        printf "endpoints  upload 1 phone   %.2f s (%.0f MiB/s)  ratio %.2f to cp+md5sum+sync (target >= 0.60: %s), %.2f to cp+md5sum\n", s, m / s, d / s, (d / s >= 0.6 ? "met" : "NOT MET"), b / s
        printf "endpoints  upload 3 phones  %.2f s (%.0f MiB/s)  ratio %.2f to cp+md5sum+sync (target >= 0.60: %s), %.2f to cp+md5sum\n", p, m / p, d / p, (d / p >= 0.6 ? "met" : "NOT MET"), b / p
        exit (d / p >= 0.6) ? 0 : 1
    }' || status=1
else
    echo "endpoints  upload failed" >&2
fi

# 2, 3. "/verify" and "/date" on a 100 000-photo library.
"$bin" make-library "$work/big" 100000 || { echo "endpoints: make-library failed" >&2; exit 1; }
"$bin" verify "$work/big" 10000 21 >"$work/verify.txt" || status=1
"$bin" date "$work/big" 11 >"$work/date.txt" || status=1
awk '
/^verify/ { for (i = 1; i <= NF; i++) { if ($i == "known_ms") k = $(i + 1); if ($i == "unknown_ms") u = $(i + 1) } }
/^date/ { for (i = 1; i <= NF; i++) { if ($i == "all_ms") a = $(i + 1); if ($i == "device_ms") d = $(i + 1); if ($i == "photos") n = $(i + 1) } }
END {
    printf "endpoints  /verify 10000 known tokens %.1f ms (target < 50, ratio %.2f); unknown %.1f ms\n", k, 50 / k, u
    printf "endpoints  /date %d photos %.1f ms (target < 100, ratio %.2f); device filter %.1f ms (target < 200, ratio %.2f)\n", n, a, 100 / a, d, 200 / d
    exit (k < 50 && a < 100 && d < 200) ? 0 : 1
}' "$work/verify.txt" "$work/date.txt" || status=1

# 4. "/thumb" with wrk.
if command -v wrk >/dev/null 2>&1; then
    "$bin" thumb-server "$work/thumb" >"$work/thumb.out" 2>&1 &
    server_pid=$!
    i=0
    while ! grep -q '^pid ' "$work/thumb.out" 2>/dev/null; do
        i=$((i + 1))
        [ $i -gt 300 ] && { echo "endpoints: thumb server did not start" >&2; cat "$work/thumb.out" >&2; exit 1; }
        sleep 0.1
    done
    port=$(awk '/^port / { print $2 }' "$work/thumb.out")
    pid=$(awk '/^pid / { print $2 }' "$work/thumb.out")
    wrk -t2 -c64 -d"${duration}s" -H 'Connection: close' \
        "http://127.0.0.1:$port/thumb/$pid?key=bench-phone" >"$work/wrk.out" 2>&1
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
    server_pid=""
    awk '/^Requests\/sec:/ { r = $2 } /Non-2xx/ { bad = $NF }
    END {
        printf "endpoints  /thumb stored 150x150 %.0f requests/s (target >= 5000, ratio %.2f)%s\n", r, r / 5000, (bad ? ", non-2xx " bad : "")
        exit (r >= 5000 && !bad) ? 0 : 1
    }' "$work/wrk.out" || status=1
else
    echo "endpoints  /thumb skipped: wrk not installed"
fi
exit $status
