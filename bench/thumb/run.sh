#!/bin/sh
# bench/thumb/run.sh BUILD_DIR
# 150 x 150 thumbnails of the same 50 generated 12-megapixel JPEGs (4032 x 3024, quality 92):
# `vellumo-cli thumb --batch` against `vipsthumbnail -s 150x150` run as one process per core,
# both in this run (best of three each). Target: ours >= 1.5 x vips. Then the stored-thumbnail
# lookup (Google Benchmark). Target: < 0.2 ms.
set -u
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
cli="$build/tools/vellumo-cli"
gen="$build/bench/thumb/bench_thumb_photos"
store="$build/bench/thumb/bench_thumb_store"
count=50
for bin in "$cli" "$gen" "$store"; do
    [ -x "$bin" ] || { echo "thumb: $bin not built (configure with -DVELLUMO_BENCH=ON)" >&2; exit 1; }
done
command -v vipsthumbnail >/dev/null 2>&1 || { echo "thumb: vipsthumbnail not installed" >&2; exit 1; }

# The photos take a while to make; they are kept in the build folder between runs.
photos="$build/bench/thumb/photos"
if [ "$(ls "$photos"/IMG_*.jpg 2>/dev/null | wc -l)" -ne $count ]; then
    rm -rf "$photos"
    "$gen" "$photos" $count || { echo "thumb: could not make the photos" >&2; exit 1; }
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
cores=$(nproc)
per=$(( (count + cores - 1) / cores ))

# Best of three wall times, and the processor time (user + system, children included) of that
# run: on a busy machine the wall time follows how many threads each side runs, the processor
# time does not.
best=""
seconds() {
    best=""
    for round in 1 2 3; do
        rm -rf "$work/out" && mkdir "$work/out"
        if ! /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null 2>"$work/err"; then
            cat "$work/err" >&2
            echo "thumb: '$1' failed" >&2
            exit 1
        fi
        best=$(awk -v b="$best" '{ t = $1; cpu = $2 + $3 } END {
            split(b, old, " ")
            if (b == "" || t < old[1]) print t, cpu; else print b }' "$work/time")
    done
    echo "$best"
}
[ -x /usr/bin/time ] || { echo "thumb: /usr/bin/time (GNU time) not installed" >&2; exit 1; }
ls "$photos"/IMG_*.jpg >"$work/list"

ours=$(seconds "$cli" thumb --batch "$work/out" 150 150 "$photos"/IMG_*.jpg)
made=$(ls "$work/out" | wc -l)
vips=$(seconds xargs -P "$cores" -n "$per" -a "$work/list" vipsthumbnail -s 150x150 \
    -o "$work/out/%s.jpg")
[ "$made" -eq $count ] || { echo "thumb: vellumo-cli made $made of $count thumbnails" >&2; exit 1; }
load=$(cut -d' ' -f1 /proc/loadavg)

echo "$ours $vips" | awk -v n=$count -v c="$cores" -v load="$load" '{
    ow = $1; oc = $2; vw = $3; vc = $4
    printf "thumb      vellumo-cli --batch %6.1f photos/s   vipsthumbnail x%d %6.1f photos/s   ratio %.2f (target >= 1.50: %s)\n",
        n / ow, c, n / vw, vw / ow, (vw / ow >= 1.5 ? "met" : "NOT MET")
    printf "thumb      processor time per photo: ours %.1f ms, vips %.1f ms, ratio %.2f (load average %s)\n",
        1000 * oc / n, 1000 * vc / n, vc / oc, load
}'

csv="$work/store.csv"
"$store" --benchmark_format=csv >"$csv" 2>/dev/null || { echo "thumb: bench_thumb_store failed" >&2; exit 1; }
awk -F, '
    { n = $1; gsub(/"/, "", n) }
    n == "BM_GetStoredThumbnail" { t = $4; printf "thumb      GetThumbnail (stored) %.1f us (target < 200 us: %s)\n", t, (t < 200 ? "met" : "NOT MET") }
    n == "BM_MakeThumbnail12MP" { printf "thumb      MakeThumbnail from a 12-megapixel JPEG %.1f ms\n", $4 }
' "$csv"
