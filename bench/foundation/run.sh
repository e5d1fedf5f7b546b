#!/bin/sh
# run.sh BUILD_DIR
# MD5 over a 256 MiB buffer against `openssl speed -evp md5` (16 KiB blocks) measured in the
# same run, and Base64 / percent-decoding throughput. Prints the figures and the ratios.
# Targets: MD5 >= 0.8 x openssl; Base64 encode/decode and UrlDecode >= 1 GB/s.
set -e
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
bin="$build/bench/foundation/bench_foundation"
if [ ! -x "$bin" ]; then
    echo "foundation: $bin not built (configure with -DVELLUMO_BENCH=ON)" >&2
    exit 1
fi
command -v openssl >/dev/null 2>&1 || { echo "foundation: openssl not installed" >&2; exit 1; }

csv=$(mktemp)
trap 'rm -f "$csv"' EXIT INT TERM

# openssl first and last, so a machine that changes speed during the run shows up as spread.
ossl1=$(openssl speed -evp md5 -bytes 16384 -seconds 3 2>/dev/null | awk '$1 == "md5" { sub(/k$/, "", $2); print $2 * 1000 }')
"$bin" --benchmark_format=csv >"$csv" 2>/dev/null
ossl2=$(openssl speed -evp md5 -bytes 16384 -seconds 3 2>/dev/null | awk '$1 == "md5" { sub(/k$/, "", $2); print $2 * 1000 }')

rate() { # bytes per second of one benchmark from the CSV ("name/min_time:..." rows)
    awk -F, -v want="$1" '{ n = $1; gsub(/"/, "", n); split(n, part, "/") } part[1] == want { print $6; exit }' "$csv"
}

md5=$(rate BM_Md5Text_256MiB)
enc=$(rate BM_Base64Encode)
dec=$(rate BM_Base64Decode)
url=$(rate BM_UrlDecode)
urlp=$(rate BM_UrlDecodePlain)

status=0
awk -v md5="$md5" -v o1="$ossl1" -v o2="$ossl2" -v enc="$enc" -v dec="$dec" -v url="$url" -v urlp="$urlp" '
BEGIN {
    ossl = (o1 > o2) ? o1 : o2   # the better of the two openssl runs: the stricter ratio
    ratio = md5 / ossl
    printf "md5        vellumo %8.1f MB/s   openssl %8.1f MB/s (%.1f / %.1f)   ratio %.2f  (target >= 0.80)\n",
        md5 / 1e6, ossl / 1e6, o1 / 1e6, o2 / 1e6, ratio
    printf "base64 enc %8.2f GB/s  (target >= 1.00)\n", enc / 1e9
    printf "base64 dec %8.2f GB/s  (target >= 1.00, input side)\n", dec / 1e9
    printf "urldecode  %8.2f GB/s  (query-like text, a %%XX every ~12 bytes; target >= 1.00)\n", url / 1e9
    printf "urldecode  %8.2f GB/s  (no escapes)\n", urlp / 1e9
    bad = (ratio < 0.8) || (enc < 1e9) || (dec < 1e9) || (url < 1e9)
    exit bad
}' || status=1
exit $status
