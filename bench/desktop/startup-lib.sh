# Shared by the desktop and wizard benches (sourced): a private Xvfb, and timed starts of the
# real program in sandboxes of their own. The caller sets program and work, and removes $work
# and kills $xvfb on exit.

# Starts Xvfb on a free display; sets xvfb (its pid) and display.
start_private_xvfb() {
    exec 3>"$work/display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    exec 3>&-
    while [ ! -s "$work/display" ]; do sleep 0.05; done
    display=":$(cat "$work/display")"
}

free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start_ms MODE TEXT N [first-run]: milliseconds from exec until the output holds TEXT, and the
# processor time used by then (all threads; a loaded machine stretches it less). No session bus
# (a desktop session has one; without an address GIO would start one per display). Without
# "first-run" a storage folder is recorded first, so no wizard comes before the window.
start_ms() {
    mode=$1 text=$2 n=$3 first=$4
    sandbox="$work/run-$n-$(echo "$mode" | tr -d -)"
    mkdir -p "$sandbox/home/.config/Vellumo" "$sandbox/run"
    chmod 700 "$sandbox/run"
    if [ "$first" != first-run ]; then
        root=$(printf '%s' "$sandbox/home/Documents/Vellumo" | base64 -w0)
        printf '{\n\t"RootPath" : "%s"\n}\n' "$root" >"$sandbox/home/.config/Vellumo/Vellumo.cfg"
    fi
    # A port of its own: another service on the default port would stop the start.
    port=$(free_port)
    begin=$(date +%s%N)
    env -i PATH="$PATH" HOME="$sandbox/home" XDG_RUNTIME_DIR="$sandbox/run" \
        XDG_CONFIG_HOME="$sandbox/home/.config" DISPLAY="$display" VELLUMO_PORT=$port \
        VELLUMO_UPDATE_SERVER=off ASAN_OPTIONS=detect_leaks=0 NO_AT_BRIDGE=1 \
        DBUS_SESSION_BUS_ADDRESS="unix:path=$sandbox/no-session-bus" \
        "$program" $mode >"$sandbox/out" 2>&1 &
    pid=$!
    waited=0
    while ! grep -q "$text" "$sandbox/out" 2>/dev/null; do
        sleep 0.002
        waited=$((waited + 1))
        if [ $waited -gt 10000 ]; then
            echo "no \"$text\" from vellumo $mode:" >&2
            cat "$sandbox/out" >&2
            kill -TERM $pid
            exit 1
        fi
    done
    end=$(date +%s%N)
    ticks=$(awk '{print $14 + $15}' /proc/$pid/stat)
    kill -TERM $pid
    wait $pid || true
    echo "$(( (end - begin) / 1000000 )) $(( ticks * 1000 / $(getconf CLK_TCK) ))"
}

median() { sort -n | sed -n 3p; }
