#!/bin/sh
# Builds the Debian package from a build folder: stages the installation with the prefix /usr,
# moves the program folder to /opt/vellumo (the package manager, not the updater, keeps it
# current), then adds the package's control data, its documentation and the lintian overrides.
# Usage: tools/install/make-deb.sh BUILD_DIR OUT_DIR
set -eu
build=$(cd "$1" && pwd)
out=$(mkdir -p "$2" && cd "$2" && pwd)
src=$(cd "$(dirname "$0")" && pwd)

version=$("$build/shell/vellumo" --version | sed -n 's/^Vellumo //p')
arch=$(dpkg --print-architecture)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root="$stage/root"

DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
# The program folder moves to /opt; the PATH links follow it.
mkdir -p "$root/opt"
mv "$root/usr/lib/vellumo" "$root/opt/vellumo"
rmdir "$root/usr/lib" 2>/dev/null || true
for link in "$root"/usr/bin/*; do
    name=$(basename "$link")
    rm -f "$link"
    ln -s "/opt/vellumo/$name" "$link"
done
# Packages ship stripped programs, as the Debian tools make them.
find "$root/opt/vellumo" -maxdepth 1 -type f -perm -u+x -exec strip --strip-unneeded {} +
# The user unit goes where systemd looks for packaged user units.
mkdir -p "$root/usr/lib/systemd/user"
mv "$root/usr/share/systemd/user/vellumo.service" "$root/usr/lib/systemd/user/"
rm -rf "$root/usr/share/systemd"

doc="$root/usr/share/doc/vellumo"
mkdir -p "$doc" "$root/usr/share/lintian/overrides"
cp "$src/debian/copyright" "$doc/copyright"
sed "s/@VERSION@/$version/" "$src/debian/changelog" | gzip -9n > "$doc/changelog.gz"
cp "$src/debian/lintian-overrides" "$root/usr/share/lintian/overrides/vellumo"

# Runtime libraries from the programs' own links, as dpkg-shlibdeps finds them.
mkdir -p "$stage/debian"
touch "$stage/debian/control"
programs=$(find "$root/opt/vellumo" -maxdepth 1 -type f -perm -u+x | sed 's/^/-e/')
depends=$(cd "$stage" && dpkg-shlibdeps -O --ignore-missing-info $programs 2>"$stage/shlibdeps.log" |
          sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { cat "$stage/shlibdeps.log" >&2; exit 1; }
# xdg-utils opens folders and addresses; the interface texts need a CJK font.
depends="$depends, xdg-utils, fonts-noto-cjk"

mkdir -p "$root/DEBIAN"
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@DEPENDS@/$depends/" \
    -e "s/@SIZE@/$size/" "$src/debian/control" > "$root/DEBIAN/control"
(cd "$root" && find . -path ./DEBIAN -prune -o -type f -print0 | sort -z |
    xargs -0 md5sum | sed 's| \./| |') > "$root/DEBIAN/md5sums"
find "$root" -type d -exec chmod 0755 {} +
find "$root" -type f ! -perm -u+x -exec chmod 0644 {} +
find "$root" -type f -perm -u+x -exec chmod 0755 {} +
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

deb="$out/vellumo_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
