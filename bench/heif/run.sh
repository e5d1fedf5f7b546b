#!/bin/sh
# bench/heif/run.sh BUILD_DIR
# 150 x 150 thumbnails of the same 24 HEIC photos of 12 megapixels (4032 x 3024, each with a
# 320 x 240 embedded thumbnail as phones write them; six different pictures): `vellumo-cli thumb --batch` against
# `vipsthumbnail -s 150x150` run as one process per core, both in this run (best of three
# each). Target: ours >= 1.5 x vips.
set -u
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
cli="$build/tools/vellumo-cli"
gen="$build/bench/thumb/bench_thumb_photos"
count=24
for bin in "$cli" "$gen"; do
    [ -x "$bin" ] || { echo "heif: $bin not built (configure with -DVELLUMO_BENCH=ON)" >&2; exit 1; }
done
for tool in vipsthumbnail heif-enc; do
    command -v $tool >/dev/null 2>&1 || { echo "heif: $tool not installed" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "heif: /usr/bin/time (GNU time) not installed" >&2; exit 1; }

# The photos take a while to make (12-megapixel HEVC encoding is slow): six different ones,
# each stored four times under its own name. They are kept in the build folder between runs.
photos="$build/bench/heif/photos"
distinct=6
if [ "$(ls "$photos"/IMG_*.HEIC 2>/dev/null | wc -l)" -ne $count ]; then
    rm -rf "$photos"
    mkdir -p "$photos/jpeg"
    "$gen" "$photos/jpeg" $distinct || { echo "heif: could not make the photos" >&2; exit 1; }
    i=0
    for jpeg in "$photos"/jpeg/IMG_*.jpg; do
        heif-enc -q 75 -t 320 -p preset=ultrafast -o "$photos/source-$i.heic" "$jpeg" \
            >/dev/null 2>&1 || { echo "heif: heif-enc failed on $jpeg" >&2; exit 1; }
        i=$((i + 1))
    done
    for n in $(seq 0 $((count - 1))); do
        cp "$photos/source-$((n % distinct)).heic" "$photos/$(printf 'IMG_%04d.HEIC' "$n")"
    done
    rm -rf "$photos/jpeg" "$photos"/source-*.heic
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
cores=$(nproc)
per=$(( (count + cores - 1) / cores ))

# Best of three wall times, and the processor time (user + system, children included) of that
# run.
seconds() {
    best=""
    for round in 1 2 3; do
        rm -rf "$work/out" && mkdir "$work/out"
        if ! /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null 2>"$work/err"; then
            cat "$work/err" >&2
            echo "heif: '$1' failed" >&2
            exit 1
        fi
        best=$(awk -v b="$best" '{ t = $1; cpu = $2 + $3 } END {
            split(b, old, " ")
            if (b == "" || t < old[1]) print t, cpu; else print b }' "$work/time")
    done
    echo "$best"
}
ls "$photos"/IMG_*.HEIC >"$work/list"

ours=$(seconds "$cli" thumb --batch "$work/out" 150 150 "$photos"/IMG_*.HEIC)
made=$(ls "$work/out" | wc -l)
vips=$(seconds xargs -P "$cores" -n "$per" -a "$work/list" vipsthumbnail -s 150x150 \
    -o "$work/out/%s.jpg")
[ "$made" -eq $count ] || { echo "heif: vellumo-cli made $made of $count thumbnails" >&2; exit 1; }
load=$(cut -d' ' -f1 /proc/loadavg)

echo "$ours $vips" | awk -v n=$count -v c="$cores" -v load="$load" '{
    ow = $1; oc = $2; vw = $3; vc = $4
    printf "heif       vellumo-cli --batch %6.1f photos/s   vipsthumbnail x%d %6.1f photos/s   ratio %.2f (target >= 1.50: %s)\n",
        n / ow, c, n / vw, vw / ow, (vw / ow >= 1.5 ? "met" : "NOT MET")
    printf "heif       processor time per photo: ours %.1f ms, vips %.1f ms, ratio %.2f (load average %s)\n",
        1000 * oc / n, 1000 * vc / n, vc / oc, load
}'
