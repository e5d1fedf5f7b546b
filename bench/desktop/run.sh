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
. "$here/startup-lib.sh"
start_private_xvfb

for n in 1 2 3 4 5; do start_ms "" "running with its window" $n; done >"$work/desktop"
for n in 1 2 3 4 5; do start_ms "--headless" "Stop with Ctrl+C" $n; done >"$work/headless"
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
