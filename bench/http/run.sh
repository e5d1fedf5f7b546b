#!/bin/sh
# bench/http/run.sh BUILD_DIR
# Throughput of our HTTP server with a trivial 200-byte answer against nginx serving a 200-byte
# static file, both on loopback, measured with the same wrk load in this run; then 2000 idle
# connections held against our server (memory, reaping).
set -u
build=$1
here=$(cd "$(dirname "$0")" && pwd)
server_bin=$build/bench/http/bench_http_server
idle_bin=$build/bench/http/bench_http_idle
duration=${BENCH_HTTP_SECONDS:-10}

for tool in wrk nginx; do
    command -v "$tool" >/dev/null 2>&1 || { echo "http: $tool not installed, skipped"; exit 0; }
done
[ -x "$server_bin" ] || { echo "http: $server_bin missing"; exit 1; }

work=$(mktemp -d)
chmod 755 "$work"
server_pid=""
nginx_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

rate() {
    # Requests/sec of one wrk run against URL $1.
    wrk -t2 -c64 -d"${duration}s" -H 'Connection: close' "$1" >"$work/wrk.out" 2>&1
    awk '/^Requests\/sec:/ { print $2 }' "$work/wrk.out"
}

start_server() {
    "$server_bin" >"$work/server.out" 2>&1 &
    server_pid=$!
    i=0
    while ! grep -q '^port ' "$work/server.out" 2>/dev/null; do
        i=$((i + 1))
        [ $i -gt 100 ] && { echo "http: bench server did not start"; exit 1; }
        sleep 0.1
    done
    port=$(awk '/^port / { print $2 }' "$work/server.out")
}

stop_server() {
    kill "$server_pid" 2>/dev/null
    wait "$server_pid" 2>/dev/null
    server_pid=""
}

# (a) our server
start_server
ours=$(rate "http://127.0.0.1:$port/bench")
stop_server

# (b) nginx: two workers, a 200-byte file, everything inside the temporary prefix
nginx_port=$("$server_bin" --free-port)
mkdir -p "$work/www" "$work/logs"
head -c 200 /dev/zero | tr '\0' 'v' >"$work/www/bench"
chmod -R a+rX "$work/www"
cat >"$work/nginx.conf" <<CONF
worker_processes 2;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    default_type text/html;
    server {
        listen 127.0.0.1:$nginx_port;
        root $work/www;
        location / { }
    }
}
CONF
nginx -e "$work/logs/error.log" -p "$work" -c "$work/nginx.conf" -g 'daemon off;' &
nginx_pid=$!
i=0
until wrk -t1 -c1 -d1s "http://127.0.0.1:$nginx_port/bench" 2>/dev/null | grep -q 'Requests/sec'; do
    i=$((i + 1))
    [ $i -gt 20 ] && { echo "http: nginx did not start"; cat "$work/logs/error.log"; exit 1; }
    sleep 0.2
done
theirs=$(rate "http://127.0.0.1:$nginx_port/bench")
kill "$nginx_pid" 2>/dev/null
wait "$nginx_pid" 2>/dev/null
nginx_pid=""

status=0
if [ -z "$ours" ] || [ -z "$theirs" ]; then
    echo "http: a wrk run failed"
    cat "$work/wrk.out"
    status=1
else
    echo "http: ours $ours req/s, nginx $theirs req/s (wrk -t2 -c64 -d${duration}s, Connection: close)"
    awk -v a="$ours" -v b="$theirs" 'BEGIN {
        r = a / b
        printf "http: ratio ours/nginx = %.2f (target >= 0.80): %s\n", r, (r >= 0.8 ? "PASS" : "FAIL")
        exit (r >= 0.8 ? 0 : 1)
    }' || status=1
fi

# Idle connections against a fresh server.
start_server
"$idle_bin" "$port" "$server_pid" 2000 || status=1
stop_server
exit $status
