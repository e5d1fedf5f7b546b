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
. "$(cd "$(dirname "$0")" && pwd)/../desktop/startup-lib.sh"
start_private_xvfb

for n in 1 2 3 4 5; do start_ms "" "first-run wizard" $n first-run; done >"$work/wizard"
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
