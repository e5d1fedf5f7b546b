#!/bin/sh
# Installs the Debian packages that building, testing and benchmarking need, only those missing.
# Usage: tools/install-deps.sh build|test|bench
# The package names live in tools/deps/<topic>.<kind>: a test set-up also installs what the
# build needs, a bench set-up what both need.
set -e
deps="$(dirname "$0")/deps"
case "$1" in
    build) kinds="build" ;;
    test) kinds="build test" ;;
    bench) kinds="build test bench" ;;
    *) echo "usage: $0 build|test|bench" >&2; exit 2 ;;
esac

want=""
for k in $kinds; do
    for f in "$deps"/*."$k"; do
        [ -f "$f" ] && want="$want $(sed 's/#.*//' "$f" | tr '\n' ' ')"
    done
done

missing=""
for p in $want; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
sudo=""
if [ "$(id -u)" != 0 ]; then sudo=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends $missing
