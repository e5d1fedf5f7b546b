#!/bin/sh
# `make install` as a user runs it: into a prefix, and staged under DESTDIR; the installed copy
# runs from its own folder; uninstall removes exactly what was installed.
. "$(dirname "$0")/install-lib.sh"

installed_files() { (cd "$1" && find . \( -type f -o -type l \) | sort); }

# A file of the user's that must survive the uninstall.
prefix="$work/prefix"
mkdir -p "$prefix/bin" "$prefix/share/applications"
echo "not ours" > "$prefix/bin/other-tool"
echo "not ours" > "$prefix/share/applications/other.desktop"

cmake --install "$build" --prefix "$prefix" > "$work/install.log" || fail "install failed"
for f in lib/vellumo/vellumo lib/vellumo/vellumo-cli share/applications/vellumo.desktop \
         share/man/man1/vellumo.1.gz share/man/man1/vellumo-cli.1.gz \
         share/systemd/user/vellumo.service; do
    [ -f "$prefix/$f" ] || fail "$f is not installed"
done
[ "$(readlink "$prefix/bin/vellumo")" = "../lib/vellumo/vellumo" ] || fail "bin/vellumo link"
[ -x "$prefix/bin/vellumo-cli" ] || fail "bin/vellumo-cli does not lead to the program"
if [ -d "$source_dir/resources/pages" ]; then
    [ -d "$prefix/lib/vellumo/Pages" ] || fail "the pages are not installed"
fi

# The menu entry and the unit name the installed program, and both pass their checkers.
grep -qx "Exec=$prefix/bin/vellumo" "$prefix/share/applications/vellumo.desktop" || fail "Exec line"
desktop-file-validate "$prefix/share/applications/vellumo.desktop" || fail "desktop entry invalid"
grep -qx "ExecStart=$prefix/bin/vellumo --headless" "$prefix/share/systemd/user/vellumo.service" ||
    fail "ExecStart line"
systemd-analyze verify --man=no "$prefix/share/systemd/user/vellumo.service" 2> "$work/verify.log" || {
    cat "$work/verify.log" >&2; fail "the user unit does not verify"; }
man -l "$prefix/share/man/man1/vellumo.1.gz" > /dev/null 2>&1 || zcat "$prefix/share/man/man1/vellumo.1.gz" |
    grep -q '^\.TH VELLUMO' || fail "man page"

# The installed copy, started through its PATH link, runs from its own folder.
start_headless "$prefix/bin/vellumo"
curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$service_port/echo" | grep -q '^[0-9]' ||
    fail "the installed vellumo does not answer"
if [ -f "$prefix/lib/vellumo/Pages/app/index.html" ]; then
    code=$(curl -s -o "$work/page" -w '%{http_code}' "http://127.0.0.1:$service_port/app/index.html")
    [ "$code" = 200 ] && cmp -s "$work/page" "$prefix/lib/vellumo/Pages/app/index.html" ||
        fail "the installed vellumo does not serve its own pages ($code)"
fi
stop_headless

list_prefix=$(installed_files "$prefix")
sh "$source_dir/tools/install/uninstall.sh" "$build" > /dev/null || fail "uninstall failed"
left=$(installed_files "$prefix")
[ "$left" = "$(printf './bin/other-tool\n./share/applications/other.desktop')" ] ||
    fail "uninstall left or removed the wrong files: $left"
[ ! -e "$prefix/lib/vellumo" ] || fail "uninstall left the program folder"

# Staged under DESTDIR: the same files, nothing outside it.
stage="$work/stage"
DESTDIR="$stage" cmake --install "$build" --prefix /opt/vellumo-test > "$work/install.log" ||
    fail "staged install failed"
[ ! -e /opt/vellumo-test ] || fail "a staged install wrote outside DESTDIR"
staged=$(installed_files "$stage/opt/vellumo-test")
expected=$(echo "$list_prefix" | grep -v -e other-tool -e other.desktop)
[ "$staged" = "$expected" ] || fail "the staged install differs: $staged"
grep -qx "Exec=/opt/vellumo-test/bin/vellumo" "$stage/opt/vellumo-test/share/applications/vellumo.desktop" ||
    fail "the staged menu entry names the staging folder"
DESTDIR="$stage" sh "$source_dir/tools/install/uninstall.sh" "$build" > /dev/null
[ -z "$(installed_files "$stage")" ] || fail "the staged uninstall left files"
echo "install layout: ok"
