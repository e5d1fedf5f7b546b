#!/bin/sh
# bench/wizard/run.sh BUILD_DIR
# The first-run wizard: milliseconds from exec to the wizard shown (an empty sandbox, so a first
# run, on a private Xvfb) beside headless start to listening in the same run, each the median of
# five starts; and listing the drives from a synthetic 50-entry mount table beside findmnt
# reading the same table.
set -e
build=$(cd "$1" && pwd)
program="$build/shell/vellumo"
bench="$build/bench/wizard/bench_drivelist"
[ -x "$program" ] || { echo "vellumo is not built in $build"; exit 1; }
[ -x "$bench" ] || { echo "wizard: $bench missing"; exit 1; }
work=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
exec 3>&-
while [ ! -s "$work/display" ]; do sleep 0.05; done
display=":$(cat "$work/display")"

# Milliseconds until the output holds the text; the program is then stopped.
start_ms() {
    mode=$1 text=$2 n=$3
    sandbox="$work/run-$n-$(echo "$mode" | tr -d -)"
    mkdir -p "$sandbox/home" "$sandbox/run"
    chmod 700 "$sandbox/run"
    # A port of its own: another service on the default port would stop the start.
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    begin=$(date +%s%N)
    env -i PATH="$PATH" NO_AT_BRIDGE=1 HOME="$sandbox/home" XDG_RUNTIME_DIR="$sandbox/run" \
        XDG_CONFIG_HOME="$sandbox/home/.config" DISPLAY="$display" VELLUMO_PORT=$port \
        VELLUMO_UPDATE_SERVER=off ASAN_OPTIONS=detect_leaks=0 \
        "$program" $mode >"$sandbox/out" 2>&1 &
    pid=$!
    waited=0
    while ! grep -q "$text" "$sandbox/out" 2>/dev/null; do
        sleep 0.002
        waited=$((waited + 1))
        if [ $waited -gt 10000 ]; then
            echo "wizard: no \"$text\" from vellumo $mode:" >&2
            cat "$sandbox/out" >&2
            kill -TERM $pid
            exit 1
        fi
    done
    end=$(date +%s%N)
    # Processor time used so far (all threads), which a loaded machine does not stretch.
    ticks=$(awk '{print $14 + $15}' /proc/$pid/stat)
    kill -TERM $pid
    wait $pid || true
    echo "$(( (end - begin) / 1000000 )) $(( ticks * 1000 / $(getconf CLK_TCK) ))"
}

median() { sort -n | sed -n 3p; }

for n in 1 2 3 4 5; do start_ms "" "first-run wizard" $n; done >"$work/wizard"
for n in 1 2 3 4 5; do start_ms "--headless" "Stop with Ctrl+C" $n; done >"$work/headless"
wizard=$(cut -d' ' -f1 "$work/wizard" | median)
headless=$(cut -d' ' -f1 "$work/headless" | median)
echo "first start to wizard shown:   $wizard ms (median of 5, budget 400 ms;" \
    "processor time $(cut -d' ' -f2 "$work/wizard" | median) ms)"
echo "headless start to listening:   $headless ms (median of 5;" \
    "processor time $(cut -d' ' -f2 "$work/headless" | median) ms)"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) processors"
awk -v w="$wizard" -v h="$headless" 'BEGIN { printf "ratio wizard/headless: %.2f, wizard/budget: %.2f\n", w / h, w / 400 }'

"$bench" "$work/drives" "$work/mounts" >"$work/list"
list=$(tail -1 "$work/list")
head -1 "$work/list"
begin=$(date +%s%N)
for n in 1 2 3 4 5 6 7 8 9 10; do findmnt -F "$work/mounts" >/dev/null; done
end=$(date +%s%N)
findmnt_ms=$(awk -v b="$begin" -v e="$end" 'BEGIN { printf "%.3f", (e - b) / 10 / 1000000 }')
echo "drive listing, 50 entries:     $list ms (median of 101, budget 20 ms)"
echo "findmnt -F on the same table:  $findmnt_ms ms (mean of 10, process start included)"
awk -v l="$list" -v f="$findmnt_ms" 'BEGIN { printf "ratio listing/findmnt: %.3f, listing/budget: %.3f\n", l / f, l / 20 }'
