#!/bin/sh
# bench/skin/run.sh BUILD_DIR
# Skin load: parse the built-in package, then decode on first use every picture the windows look
# up and create their fonts. Target: < 30 ms. Reported beside decoding the same PNG blobs with
# libpng (into the same premultiplied layout), measured in the same run.
set -u
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
bin="$build/bench/skin/bench_skin"
[ -x "$bin" ] || { echo "skin: $bin not built (configure with -DVELLUMO_BENCH=ON)" >&2; exit 1; }
csv=$(mktemp)
trap 'rm -f "$csv"' EXIT INT TERM
"$bin" --benchmark_format=csv --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
    >"$csv" 2>/dev/null || { echo "skin: bench_skin failed" >&2; exit 1; }
awk -F, '
    { n = $1; gsub(/"/, "", n) }
    n == "BM_SkinLoad_median" { load = $4 }
    n == "BM_SkinParseOnly_median" { parse = $4 }
    n == "BM_LibpngDecodeSamePictures_median" { png = $4 }
    END {
        printf "skin       load (parse + decode on first use) %.2f ms (target < 30 ms: %s)\n", load, (load < 30 ? "met" : "NOT MET")
        printf "skin       parse alone %.2f ms; libpng decoding the same pictures %.2f ms; load / libpng = %.2f\n", parse, png, load / png
    }' "$csv"
