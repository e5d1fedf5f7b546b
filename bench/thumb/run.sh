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

now() { date +%s.%N; }
best=""
seconds() {
    # Runs "$@" three times; prints the fastest wall time.
    best=""
    for round in 1 2 3; do
        rm -rf "$work/out" && mkdir "$work/out"
        s=$(now)
        "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; echo "thumb: '$1' failed" >&2; exit 1; }
        e=$(now)
        best=$(awk -v s="$s" -v e="$e" -v b="$best" 'BEGIN { t = e - s; if (b == "" || t < b) print t; else print b }')
    done
    echo "$best"
}

ours_batch() { "$cli" thumb --batch "$work/out" 150 150 "$photos"/IMG_*.jpg; }
vips_batch() {
    ls "$photos"/IMG_*.jpg | xargs -P "$cores" -n "$per" vipsthumbnail -s 150x150 -o "$work/out/%s.jpg"
}
ours=$(seconds ours_batch)
made=$(ls "$work/out" | wc -l)
vips=$(seconds vips_batch)
[ "$made" -eq $count ] || { echo "thumb: vellumo-cli made $made of $count thumbnails" >&2; exit 1; }

awk -v o="$ours" -v v="$vips" -v n=$count -v c="$cores" 'BEGIN {
    printf "thumb      vellumo-cli --batch %6.1f photos/s   vipsthumbnail x%d %6.1f photos/s   ratio %.2f (target >= 1.50: %s)\n",
        n / o, c, n / v, v / o, (v / o >= 1.5 ? "met" : "NOT MET")
}'

csv="$work/store.csv"
"$store" --benchmark_format=csv >"$csv" 2>/dev/null || { echo "thumb: bench_thumb_store failed" >&2; exit 1; }
awk -F, '
    { n = $1; gsub(/"/, "", n) }
    n == "BM_GetStoredThumbnail" { t = $4; printf "thumb      GetThumbnail (stored) %.1f us (target < 200 us: %s)\n", t, (t < 200 ? "met" : "NOT MET") }
    n == "BM_MakeThumbnail12MP" { printf "thumb      MakeThumbnail from a 12-megapixel JPEG %.1f ms\n", $4 }
' "$csv"
