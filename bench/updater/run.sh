#!/bin/sh
# run.sh BUILD_DIR
# Fernlift's figures, each against its reference measured in the same run:
#   unpacking a 100 MiB package of 2000 files, against `unzip -q -o` (target: ratio >= 0.7);
#   rollback after the last of 2000 copies fails (target < 2 s);
#   Vellumo's downtime during a 20 MiB update, from its port closing to the new one listening
#   (target < 3 s);
#   Fernlift's peak memory (its own and its apply helper's) for a 500 MiB package (< 64 MiB).
set -e
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
tool="$build/bench/updater/bench_updater"
fernlift="$build/updater/fernlift"
vellumo="$build/shell/vellumo"
for f in "$tool" "$fernlift" "$vellumo"; do
    [ -x "$f" ] || { echo "updater: $f not built (configure with -DVELLUMO_BENCH=ON)" >&2; exit 1; }
done
for c in unzip zip nginx openssl python3 /usr/bin/time; do
    command -v "$c" >/dev/null 2>&1 || { echo "updater: $c not installed" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/bench-updater-XXXXXX")
nginx_pid=
vellumo_pid=
cleanup() {
    [ -n "$vellumo_pid" ] && kill "$vellumo_pid" 2>/dev/null || true
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
    [ -f "$work/new.pid" ] && kill "$(cat "$work/new.pid")" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM
key="$source_dir/tests/updater/keys/test-private.pem"
make_package="$source_dir/tools/updater/make-update-package.sh"

# --- unpacking ---------------------------------------------------------------------------
python3 - "$work/stage" <<'PY'
import os, random, sys
root = sys.argv[1]
random.seed(7)
words = b"photo backup library thumbnail device album camera ".split()
for i in range(2000):
    d = os.path.join(root, "d%02d" % (i % 40))
    os.makedirs(d, exist_ok=True)
    size = 52428 + random.randint(-20000, 20000)
    if i % 2:
        data = os.urandom(size)          # already compressed media
    else:
        data = b" ".join(random.choice(words) for _ in range(size // 6))[:size]
    open(os.path.join(d, "f%04d.bin" % i), "wb").write(data)
PY
(cd "$work/stage" && zip -q -r "$work/unpack.zip" .)
best() { sort -n | head -1; }
unzip_times=
ours_times=
for round in 1 2; do
    rm -rf "$work/u1" "$work/u2"
    mkdir -p "$work/u1"
    s=$(date +%s.%N); unzip -q -o "$work/unpack.zip" -d "$work/u1"; e=$(date +%s.%N)
    unzip_times="$unzip_times $(awk -v s="$s" -v e="$e" 'BEGIN { printf "%.3f", e - s }')"
    ours_times="$ours_times $("$tool" unpack "$work/unpack.zip" "$work/u2")"
done
rm -rf "$work/u1" "$work/u2" "$work/stage"
unzip_t=$(printf '%s\n' $unzip_times | best)
ours_t=$(printf '%s\n' $ours_times | best)
size=$(du -sm "$work/unpack.zip" | cut -f1)
awk -v u="$unzip_t" -v o="$ours_t" -v s="$size" 'BEGIN {
    printf "unpack     fernlift %.3f s   unzip -q -o %.3f s   (%d MiB zip, 2000 files)   ratio %.2f  (target >= 0.70)\n", o, u, s, u / o }'
rm -f "$work/unpack.zip"

# --- rollback ----------------------------------------------------------------------------
set -- $("$tool" rollback "$work/rollback" 2000)
awk -v r="$1" -v a="$2" 'BEGIN {
    printf "rollback   %.3f s from the failure of the last of 2000 copies to the installation restored (applying took %.3f s)  (target < 2 s)\n", r, a }'
rm -rf "$work/rollback"

# --- a real update: downtime and peak memory ----------------------------------------------
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
service=$(python3 -c 'import socket; s=socket.socket(); s.bind(("0.0.0.0",0)); print(s.getsockname()[1])')
mkdir -p "$work/www" "$work/nginx" "$work/install" "$work/sb/home" "$work/sb/config" \
    "$work/sb/data" "$work/sb/run" "$work/sb/tmp"
chmod 700 "$work/sb/run"
cat >"$work/nginx.conf" <<CONF
daemon off; master_process off; worker_processes 1;
pid $work/nginx/nginx.pid; error_log $work/nginx/error.log;
events { worker_connections 64; }
http { access_log off; sendfile on;
  client_body_temp_path $work/nginx; proxy_temp_path $work/nginx; fastcgi_temp_path $work/nginx;
  uwsgi_temp_path $work/nginx; scgi_temp_path $work/nginx;
  server { listen 127.0.0.1:$port; root $work/www;
    location = /check_update { default_type application/json; try_files /answer.json =404; } } }
CONF
nginx -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx.conf" &
nginx_pid=$!
cp "$vellumo" "$work/install/vellumo"
export HOME="$work/sb/home" XDG_CONFIG_HOME="$work/sb/config" XDG_DATA_HOME="$work/sb/data" \
    XDG_RUNTIME_DIR="$work/sb/run" TMPDIR="$work/sb/tmp" VELLUMO_PORT="$service" \
    VELLUMO_UPDATE_SERVER="127.0.0.1:$port"
unset DISPLAY WAYLAND_DISPLAY

wait_listening() { # port, seconds
    python3 - "$1" "$2" <<'PY'
import socket, sys, time
end = time.time() + float(sys.argv[2])
while time.time() < end:
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), 0.2).close(); sys.exit(0)
    except OSError:
        time.sleep(0.02)
sys.exit(1)
PY
}

start_vellumo() {
    "$work/install/vellumo" --headless >"$work/vellumo.log" 2>&1 &
    vellumo_pid=$!
    wait_listening "$service" 60
}

# A 20 MiB package: the program and 20 MiB of data.
mkdir -p "$work/pkg20"
cp "$vellumo" "$work/pkg20/vellumo"
head -c $((20 << 20)) /dev/urandom >"$work/pkg20/data.bin"
echo '{"files": {"vellumo": 1, "data.bin": 1}, "lastrun": "%root%/vellumo"}' >"$work/pkg20/upgrade.cfg"
"$make_package" "$work/pkg20" "$work/www/p20.zip" "$key" >/dev/null
echo "{\"update\": 1, \"update_url\": \"http://127.0.0.1:$port/p20.zip\"}" >"$work/www/answer.json"
start_vellumo
# Watch the service port: the time from its first refusal to its next acceptance.
python3 - "$service" >"$work/downtime.txt" <<'PY' &
import socket, sys, time
port = int(sys.argv[1]); down = None
deadline = time.time() + 300
while time.time() < deadline:
    try:
        socket.create_connection(("127.0.0.1", port), 0.2).close()
        if down is not None:
            print("%.3f" % (time.time() - down)); sys.exit(0)
    except OSError:
        if down is None:
            down = time.time()
    time.sleep(0.005)
print("-1")
PY
watcher=$!
"$fernlift" "$work/install/vellumo" 1.2 "$vellumo_pid" --console >"$work/fernlift20.log" 2>&1 || {
    echo "updater: the 20 MiB update failed:" >&2; cat "$work/fernlift20.log" >&2; exit 1; }
wait "$watcher" || true
wait "$vellumo_pid" 2>/dev/null || true
vellumo_pid=$(awk '$1 == "started" { print $2 }' "$work/fernlift20.log")
awk -v d="$(cat "$work/downtime.txt")" 'BEGIN {
    printf "downtime   %.2f s from the service port closing to the new Vellumo listening, 20 MiB package  (target < 3 s)\n", d }'
rm -rf "$work/pkg20" "$work/www/p20.zip"*

# A 500 MiB package: Fernlift's peak memory, its apply helper included.
mkdir -p "$work/pkg500"
head -c $((500 << 20)) /dev/urandom >"$work/pkg500/big.bin"
echo '{"files": {"big.bin": 1}, "lastrun": "%root%/vellumo"}' >"$work/pkg500/upgrade.cfg"
"$make_package" "$work/pkg500" "$work/www/p500.zip" "$key" >/dev/null
rm -rf "$work/pkg500"
echo "{\"update\": 1, \"update_url\": \"http://127.0.0.1:$port/p500.zip\"}" >"$work/www/answer.json"
/usr/bin/time -f "%M" -o "$work/rss.txt" \
    "$fernlift" "$work/install/vellumo" 1.2 "$vellumo_pid" --console >"$work/fernlift500.log" 2>&1 || {
    echo "updater: the 500 MiB update failed:" >&2; cat "$work/fernlift500.log" >&2; exit 1; }
awk '$1 == "started" { print $2 }' "$work/fernlift500.log" >"$work/new.pid"
vellumo_pid=
awk -v k="$(tail -1 "$work/rss.txt")" -v s="$(du -sm "$work/www/p500.zip" | cut -f1)" 'BEGIN {
    printf "memory     %.1f MiB peak resident for a %d MiB package  (target < 64 MiB)\n", k / 1024, s }'
