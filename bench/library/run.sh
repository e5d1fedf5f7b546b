#!/bin/sh
# bench/library/run.sh BUILD_DIR
# 1. Import pipeline: 300 JPEGs of 3-8 MB through QueueImport into an empty library, as the
#    PC's own photos (copied) and as uploads (moved), against `cp` then `md5sum` over the same
#    files in the same run. Ratio = baseline time / our time; target >= 0.7.
# 2. OpenLibrary on 100 000 image rows: <= 1.0 s and <= 150 MiB resident; SaveIndexes of that
#    time line < 50 ms; ListYears / ListDays / GetTimePids of a day < 1 ms.
set -e
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
bin="$build/bench/library/bench_library"
if [ ! -x "$bin" ]; then
    echo "library: $bin not built (configure with -DVELLUMO_BENCH=ON)" >&2
    exit 1
fi
# The photos are kept next to the build between runs: generating 1.6 GB takes a while.
photos="$build/bench/library/photos"
if [ "$(ls "$photos" 2>/dev/null | wc -l)" -ne 300 ]; then
    rm -rf "$photos"
    "$bin" gen-photos "$photos" 300 3000000 8000000
fi
work=$(mktemp -d "$build/bench/library/work.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

"$bin" import "$photos" "$work" | tee "$work/import.txt"
"$bin" make-library "$work/big" 100000
"$bin" open "$work/big" | tee "$work/open.txt"

awk '
/^import localhost_s/ { for (i = 1; i <= NF; i++) if ($i == "ratio") copy = $(i + 1) }
/^import phone_s/ { for (i = 1; i <= NF; i++) if ($i == "ratio") move = $(i + 1) }
/^open rows/ { open_s = $5; rss = $7 }
/^open save_indexes_ms/ { save = $3; years = $5; days = $7; pids = $9 }
END {
    ok = 1
    printf "library    import as PC photos: ratio %.2f vs cp+md5sum (target >= 0.7): %s\n", copy, (copy >= 0.7 ? "met" : "NOT MET")
    printf "library    import as uploads:   ratio %.2f vs cp+md5sum (target >= 0.7): %s\n", move, (move >= 0.7 ? "met" : "NOT MET")
    printf "library    OpenLibrary 100k rows %.3f s (target <= 1.0, ratio %.2f), %.1f MiB resident (target <= 150, ratio %.2f)\n", open_s, 1.0 / open_s, rss, 150 / rss
    printf "library    SaveIndexes %.2f ms (target < 50, ratio %.1f)  ListYears %.1f us  ListDays %.1f us  GetTimePids(day) %.1f us (target < 1000)\n", save, 50 / save, years, days, pids
    if (copy < 0.7 || move < 0.7 || open_s > 1.0 || rss > 150 || save >= 50 || years >= 1000 || days >= 1000 || pids >= 1000) ok = 0
    exit ok ? 0 : 1
}' "$work/import.txt" "$work/open.txt"
