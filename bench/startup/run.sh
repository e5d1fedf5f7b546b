#!/bin/sh
# bench/startup/run.sh BUILD_DIR
# Starts the built vellumo in headless mode on an empty library and on one of 100 000 images;
# reports the time from exec to a listening port, the idle resident memory and how fast a file
# deleted from the repository leaves the library, each against its budget.
set -u
build=$1
bench=$build/bench/startup/bench_startup
program=$build/shell/vellumo
[ -x "$bench" ] || { echo "startup: $bench missing"; exit 1; }
[ -x "$program" ] || { echo "startup: $program missing"; exit 1; }
exec "$bench" "$program" "${BENCH_STARTUP_IMAGES:-100000}"
