#!/bin/sh
# bench/httpclient/run.sh BUILD_DIR
# CHttpAgent against `curl -s` in the same run, both fetching from nginx on loopback:
# (a) DownloadToFile of a 512 MiB file into a file on the same file system as curl's -o
#     (target >= 0.9 of curl's rate, peak resident memory < 16 MiB);
# (b) a chunked 64 MiB answer read into memory (target >= 0.5 of curl's rate).
# Each side runs twice, alternating; the better run of each counts.
set -u
build=$1
bin=$build/bench/httpclient/bench_httpclient_download
big_mib=${BENCH_HTTPCLIENT_MIB:-512}
chunked_mib=${BENCH_HTTPCLIENT_CHUNKED_MIB:-64}
block=${BENCH_HTTPCLIENT_BLOCK:-4096}

for tool in curl nginx; do
    command -v "$tool" >/dev/null 2>&1 || { echo "httpclient: $tool not installed, skipped"; exit 0; }
done
[ -x "$bin" ] || { echo "httpclient: $bin missing"; exit 1; }

work=$(mktemp -d)
chmod 755 "$work"
nginx_pid=""
cleanup() {
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

mkdir -p "$work/www/chunked" "$work/logs" "$work/temp" "$work/out"
head -c $((big_mib * 1024 * 1024)) /dev/urandom >"$work/www/big.bin"
# Text with an (empty) addition after its body, which nginx sends chunked.
: >"$work/www/empty.txt"
awk -v mib="$chunked_mib" 'BEGIN { line = sprintf("%-63s\n", "zzzz chunked answer line");
    n = mib * 1024 * 1024 / 64; for (i = 0; i < n; i++) printf "%s", line }' \
    >"$work/www/chunked/text.txt"
chmod -R a+rX "$work/www"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
user_line=""
[ "$(id -u)" = 0 ] && user_line="user root root;"
cat >"$work/nginx.conf" <<CONF
$user_line
worker_processes 1;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 64; }
http {
    access_log off;
    sendfile on;
    client_body_temp_path $work/temp/body;
    proxy_temp_path $work/temp/proxy;
    fastcgi_temp_path $work/temp/fastcgi;
    uwsgi_temp_path $work/temp/uwsgi;
    scgi_temp_path $work/temp/scgi;
    server {
        listen 127.0.0.1:$port;
        root $work/www;
        location /chunked/ { addition_types *; add_after_body /empty.txt; }
    }
}
CONF
nginx -e "$work/logs/error.log" -p "$work" -c "$work/nginx.conf" -g 'daemon off;' &
nginx_pid=$!
i=0
until curl -s -o /dev/null "http://127.0.0.1:$port/chunked/text.txt" 2>/dev/null; do
    i=$((i + 1))
    [ $i -gt 50 ] && { echo "httpclient: nginx did not start"; cat "$work/logs/error.log"; exit 1; }
    sleep 0.2
done
url=http://127.0.0.1:$port

now() { date +%s.%N; }
curl_seconds() { # URL OUT
    rm -f "$2"
    t0=$(now)
    curl -s -o "$2" "$1" || return 1
    t1=$(now)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", b - a }'
}
ours() { # MODE PATH OUT -> "seconds bytes rss"
    rm -f "$3"
    "$bin" "$1" "$port" "$2" "$3" "$block" | awk '{ print $2, $4, $6 }'
}
best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a < b ? a : b) }'; }

status=0
# (a) the 512 MiB download
c1=$(curl_seconds "$url/big.bin" "$work/out/curl.bin")
set -- $(ours file /big.bin "$work/out/ours.bin"); o1=$1; rss1=$3
cmp -s "$work/www/big.bin" "$work/out/ours.bin" || { echo "httpclient: download differs"; status=1; }
c2=$(curl_seconds "$url/big.bin" "$work/out/curl.bin")
set -- $(ours file /big.bin "$work/out/ours.bin"); o2=$1; rss2=$3
rm -f "$work/out/curl.bin" "$work/out/ours.bin"
curl_s=$(best "$c1" "$c2")
ours_s=$(best "$o1" "$o2")
rss=$(awk -v a="$rss1" -v b="$rss2" 'BEGIN { print (a > b ? a : b) }')
echo "httpclient: ${big_mib} MiB to a file: curl ${curl_s} s, CHttpAgent ${ours_s} s (block ${block} B), peak RSS ${rss} KiB"
awk -v c="$curl_s" -v o="$ours_s" -v rss="$rss" 'BEGIN {
    r = c / o
    printf "httpclient: download rate ours/curl = %.2f (target >= 0.90): %s\n", r, (r >= 0.9 ? "PASS" : "FAIL")
    printf "httpclient: peak RSS %.1f MiB (target < 16): %s\n", rss / 1024, (rss < 16 * 1024 ? "PASS" : "FAIL")
    exit (r >= 0.9 && rss < 16 * 1024 ? 0 : 1)
}' || status=1

# (b) the chunked answer into memory (curl discards it)
c1=$(curl_seconds "$url/chunked/text.txt" /dev/null)
set -- $(ours memory /chunked/text.txt /dev/null); o1=$1; bytes=$2
c2=$(curl_seconds "$url/chunked/text.txt" /dev/null)
set -- $(ours memory /chunked/text.txt /dev/null); o2=$1
curl_s=$(best "$c1" "$c2")
ours_s=$(best "$o1" "$o2")
echo "httpclient: ${chunked_mib} MiB chunked into memory: curl ${curl_s} s, CHttpAgent ${ours_s} s (${bytes} bytes)"
awk -v c="$curl_s" -v o="$ours_s" 'BEGIN {
    r = c / o
    printf "httpclient: chunked rate ours/curl = %.2f (target >= 0.50): %s\n", r, (r >= 0.5 ? "PASS" : "FAIL")
    exit (r >= 0.5 ? 0 : 1)
}' || status=1
exit $status
