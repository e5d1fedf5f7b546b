#!/bin/sh
# run.sh BUILD_DIR
# Repaint of a skinned 640x505 window against a plain cairo copy of a same-size surface (same
# run), the dirty area of a hover change, and the idle window's context switches over 10 s under
# a private Xvfb.
set -e
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
bin="$build/bench/ui/bench_ui"
skin="$build/resources/vellumo.uir"
if [ ! -x "$bin" ] || [ ! -f "$skin" ]; then
    echo "ui: $bin or $skin not built (configure with -DVELLUMO_BENCH=ON)" >&2
    exit 1
fi
"$bin" "$skin"
command -v Xvfb >/dev/null 2>&1 || { echo "ui: Xvfb not installed, idle figure skipped" >&2; exit 0; }
fifo=$(mktemp -u)
mkfifo "$fifo"
exec 3<>"$fifo"
rm -f "$fifo"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null' EXIT INT TERM
read -r display <&3
DISPLAY=":$display" "$bin" "$skin" --idle
