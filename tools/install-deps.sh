#!/bin/sh
# Installs the Debian packages that building, testing and benchmarking need, only those missing.
# Usage: tools/install-deps.sh build|test|bench
set -e
build="cmake ninja-build make clang libclang-rt-14-dev pkg-config libjsoncpp-dev libsqlite3-dev
 zlib1g-dev libminizip-dev libasio-dev libturbojpeg0-dev libjpeg62-turbo-dev libpng-dev libgif-dev
 libtiff-dev"
test="libgtest-dev libgmock-dev imagemagick libimage-exiftool-perl zbar-tools
 golang-github-rwcarlsen-goexif-dev desktop-file-utils procps"
bench="libbenchmark-dev libvips-tools nginx-light wrk openssl hyperfine time"

case "$1" in
    build) want="$build" ;;
    test) want="$build $test" ;;
    bench) want="$build $test $bench" ;;
    *) echo "usage: $0 build|test|bench" >&2; exit 2 ;;
esac

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
