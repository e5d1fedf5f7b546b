#!/bin/sh
# The Debian package: lintian finds no errors, dpkg installs it into a throwaway root, and the
# installed program runs from /opt/vellumo.
. "$(dirname "$0")/install-lib.sh"

deb=$(sh "$source_dir/tools/install/make-deb.sh" "$build" "$work/deb") || fail "make-deb failed"
lintian --fail-on error "$deb" > "$work/lintian.log" 2>&1 || {
    cat "$work/lintian.log" >&2; fail "lintian reports errors"; }

# Every runtime library the programs link is named in Depends.
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libsqlite3 libjsoncpp libpng; do
    echo "$depends" | grep -q "$lib" || fail "Depends lacks $lib: $depends"
done

root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-depends --force-script-chrootless -i "$deb" > "$work/dpkg.log" 2>&1 || {
    cat "$work/dpkg.log" >&2; fail "dpkg -i failed"; }
[ "$(readlink "$root/usr/bin/vellumo")" = /opt/vellumo/vellumo ] || fail "usr/bin/vellumo link"
[ -f "$root/usr/share/applications/vellumo.desktop" ] || fail "menu entry missing"
[ -f "$root/usr/lib/systemd/user/vellumo.service" ] || fail "user unit missing"
grep -qx "Exec=/usr/bin/vellumo" "$root/usr/share/applications/vellumo.desktop" || fail "Exec line"
"$root/opt/vellumo/vellumo" --version | grep -q '^Vellumo ' || fail "vellumo --version"
start_headless "$root/opt/vellumo/vellumo"
stop_headless
dpkg --root="$root" --force-script-chrootless -r vellumo > "$work/dpkg.log" 2>&1 || fail "dpkg -r failed"
[ ! -e "$root/opt/vellumo" ] || fail "dpkg -r left the program folder"
echo "debian package: ok"
