#!/bin/sh
# Starts the built program: the service if it exists, else says what exists so far.
dir=$1
if [ -x "$dir/shell/vellumo" ]; then
    if [ -z "$DISPLAY" ] && [ -z "$WAYLAND_DISPLAY" ]; then
        exec "$dir/shell/vellumo" --headless
    fi
    exec "$dir/shell/vellumo"
fi
echo "The Vellumo service is not built yet; the command-line companion is: $dir/tools/vellumo-cli"
[ -x "$dir/tools/vellumo-cli" ] && exec "$dir/tools/vellumo-cli" --help
exit 0
