#!/bin/sh
# bench/exif/run.sh BUILD_DIR
# ReadExif over 1000 small cached JPEGs with phone-like EXIF. Prints files/s against the bare
# open-and-read-64-KiB loop over the same files (the I/O floor) and, when it is installed,
# `exiftool -fast` over a share of them, all measured in this run.
# Target: >= 20 000 files/s.
set -e
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
bin="$build/bench/exif/bench_exif"
if [ ! -x "$bin" ]; then
    echo "exif: $bin not built (configure with -DVELLUMO_BENCH=ON)" >&2
    exit 1
fi
for tool in convert exiftool; do
    command -v "$tool" >/dev/null 2>&1 || { echo "exif: $tool not installed" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
convert -size 160x120 gradient:red-blue -quality 85 "$work/seed.jpg"
exiftool -q -q -overwrite_original -Make=Canon -Model='Canon EOS 5D Mark II' \
    -ModifyDate='2013:05:01 08:30:00' -DateTimeOriginal='2013:05:01 08:30:00' \
    -ExposureTime=1/125 -FNumber=2.8 -ISO=400 -FocalLength=35 -Orientation#=6 \
    -XResolution=72 -YResolution=72 -ResolutionUnit=inches -ExposureCompensation=-1/3 \
    -MeteringMode#=5 -Flash#=16 -ColorSpace#=1 -Software='Phone 1.0' \
    -GPSLatitude=31.2 -GPSLatitudeRef=N -GPSLongitude=121.5 -GPSLongitudeRef=E "$work/seed.jpg"
mkdir "$work/photos"
i=0
while [ $i -lt 1000 ]; do
    cp "$work/seed.jpg" "$work/photos/IMG_$i.jpg"
    i=$((i + 1))
done
size=$(wc -c <"$work/seed.jpg")

csv="$work/bench.csv"
EXIF_BENCH_DIR="$work/photos" "$bin" --benchmark_format=csv >"$csv" 2>/dev/null
rate() {
    awk -F, -v want="$1" '{ n = $1; gsub(/"/, "", n); split(n, part, "/") } part[1] == want { print $7; exit }' "$csv"
}
ours=$(rate BM_ReadExif)
floor=$(rate BM_ReadFirst64KiB)

# exiftool is slow: 200 files are enough for its rate.
start=$(date +%s.%N)
exiftool -fast -q -j "$work"/photos/IMG_1*.jpg >/dev/null 2>&1 || true
end=$(date +%s.%N)
count=$(ls "$work"/photos/IMG_1*.jpg | wc -l)

awk -v ours="$ours" -v floor="$floor" -v s="$start" -v e="$end" -v n="$count" -v size="$size" '
BEGIN {
    tool = n / (e - s)
    printf "exif       ReadExif %9.0f files/s (%d-byte JPEGs)   open+read 64 KiB %9.0f files/s   ratio %.2f\n",
        ours, size, floor, ours / floor
    printf "exif       exiftool -fast %7.0f files/s   ReadExif / exiftool %.0f x\n", tool, ours / tool
    met = (ours >= 20000)
    printf "exif       target >= 20000 files/s: %s\n", (met ? "met" : "NOT MET")
    if (met) exit 0
    exit 1
}'
