#!/bin/sh
# The desktop program against headless mode, in the same run, on a private Xvfb (release build):
# 1. start-up: milliseconds from exec to the window shown (the program's "running with its
#    window" line) and from exec to the service listening ("Stop with Ctrl+C"), each the median
#    of five starts with an empty library, with the CPU time each had used by then (a figure a
#    busy machine disturbs less); BENCH_DESKTOP_STARTUP_ONLY=1 stops after this part;
# 2. desktop_bench.py: ingest of three phones with the window shown against headless, click
#    latency during that backup, idle UI-thread wake-ups with window and tray.
set -e
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
program="$build/shell/vellumo"
gen="$build/bench/webapp/bench_webapp_photos"
[ -x "$program" ] || { echo "vellumo is not built in $build"; exit 1; }
[ -x "$gen" ] || { echo "desktop: $gen not built (configure with -DVELLUMO_BENCH=ON)"; exit 1; }
work=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
exec 3>&-
while [ ! -s "$work/display" ]; do sleep 0.05; done
display=":$(cat "$work/display")"

free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Milliseconds until the output holds the text; the program is then stopped.
start_ms() {
    mode=$1 text=$2 n=$3
    sandbox="$work/run-$mode-$n"
    mkdir -p "$sandbox/home/.config/Vellumo" "$sandbox/run"
    chmod 700 "$sandbox/run"
    # A recorded storage folder: not a first run, so no wizard comes before the window.
    root=$(printf '%s' "$sandbox/home/Documents/Vellumo" | base64 -w0)
    printf '{\n\t"RootPath" : "%s"\n}\n' "$root" >"$sandbox/home/.config/Vellumo/Vellumo.cfg"
    port=$(free_port)
    begin=$(date +%s%N)
    env -i PATH="$PATH" HOME="$sandbox/home" XDG_RUNTIME_DIR="$sandbox/run" \
        XDG_CONFIG_HOME="$sandbox/home/.config" DISPLAY="$display" VELLUMO_PORT=$port \
        VELLUMO_UPDATE_SERVER=off ASAN_OPTIONS=detect_leaks=0 NO_AT_BRIDGE=1 \
        "$program" $mode >"$sandbox/out" 2>&1 &
    pid=$!
    while ! grep -q "$text" "$sandbox/out" 2>/dev/null; do sleep 0.002; done
    end=$(date +%s%N)
    # CPU time used by then (user + system, 10 ms ticks): less at the mercy of a busy machine.
    cpu=$(awk '{print ($14 + $15) * 10}' /proc/$pid/stat)
    kill -TERM $pid
    wait $pid || true
    echo "$(( (end - begin) / 1000000 )) $cpu"
}

median() { sort -n | sed -n 3p; }

for n in 1 2 3 4 5; do start_ms "" "running with its window" $n | tail -1; done >"$work/desktop"
for n in 1 2 3 4 5; do start_ms "--headless" "Stop with Ctrl+C" $n | tail -1; done >"$work/headless"
desktop=$(cut -d' ' -f1 "$work/desktop" | median)
headless=$(cut -d' ' -f1 "$work/headless" | median)
echo "desktop start to window shown: $desktop ms, CPU $(cut -d' ' -f2 "$work/desktop" | median) ms (medians of 5)"
echo "headless start to listening:   $headless ms, CPU $(cut -d' ' -f2 "$work/headless" | median) ms (medians of 5)"
awk -v d="$desktop" -v h="$headless" 'BEGIN { printf "ratio desktop/headless: %.2f (window target < 400 ms: %s)\n", d / h, d < 400 ? "met" : "NOT MET" }'

# 150 photos of 1.5-3.5 MB, 50 for each phone; made once and kept in the build folder.
photos="$build/bench/desktop/photos"
if [ "$(ls "$photos" 2>/dev/null | wc -l)" -ne 150 ]; then
    rm -rf "$photos"
    "$gen" "$photos" 150 1500000 3500000 >/dev/null || { echo "desktop: no photos"; exit 1; }
fi
[ -n "$BENCH_DESKTOP_STARTUP_ONLY" ] && exit 0
/usr/bin/python3 "$here/desktop_bench.py" "$program" "$photos"
