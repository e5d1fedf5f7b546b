#!/bin/sh
# Removes what `cmake --install` recorded in BUILD/install_manifest.txt (under $DESTDIR), then
# the program folder's own folders when they are left empty. Shared folders (bin, share/...)
# stay, even when empty: they may have been there before.
# Usage: tools/install/uninstall.sh BUILD_DIR
set -eu
manifest="$1/install_manifest.txt"
if [ ! -f "$manifest" ]; then
    echo "uninstall: $manifest not found: nothing was installed from $1" >&2
    exit 1
fi
dests=""
while IFS= read -r file || [ -n "$file" ]; do
    [ -n "$file" ] || continue
    path="${DESTDIR:-}$file"
    if [ -L "$path" ] || [ -e "$path" ]; then
        rm -f -- "$path"
        echo "Removed: $path"
    fi
    dests="$dests
$(dirname -- "$path")"
done < "$manifest"
# Deepest folders first; rmdir refuses any folder still holding something of the user's.
echo "$dests" | sort -u -r | while IFS= read -r dir; do
    while case "$dir" in */vellumo | */vellumo/*) true ;; *) false ;; esac; do
        rmdir -- "$dir" 2>/dev/null || break
        dir=$(dirname -- "$dir")
    done
done
rm -f -- "$manifest"
