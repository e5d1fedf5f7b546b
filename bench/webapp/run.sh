#!/bin/sh
# bench/webapp/run.sh BUILD_DIR
# The browser app against a scripted phone, same photos, same run:
# 1. 100 JPEGs of 3-8 MB uploaded from headless chromium on loopback, until the library holds
#    them all, against a scripted phone client sending the same files. Target ratio >= 0.7.
# 2. The page's first load: target < 200 KB in all.
set -u
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
gen="$build/bench/webapp/bench_webapp_photos"
vellumo="$build/shell/vellumo"
for f in "$gen" "$vellumo"; do
    [ -x "$f" ] || { echo "webapp: $f not built (configure with -DVELLUMO_BENCH=ON)" >&2; exit 1; }
done
[ -f "$build/shell/Pages/app/index.html" ] || { echo "webapp: pages not next to vellumo" >&2; exit 1; }
photos="$build/bench/webapp/photos"
if [ "$(ls "$photos" 2>/dev/null | wc -l)" -ne 100 ]; then
    rm -rf "$photos"
    "$gen" "$photos" 100 3000000 8000000 >/dev/null || { echo "webapp: no photos" >&2; exit 1; }
fi
exec /usr/bin/python3 "$here/bench_webapp.py" "$vellumo" "$photos"
