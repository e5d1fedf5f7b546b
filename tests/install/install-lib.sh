# Shared by the installation tests: temporary folders, a free port, running an installed copy.
set -eu
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
work=$(mktemp -d)
service_pid=""
cleanup() {
    if [ -n "$service_pid" ]; then kill "$service_pid" 2>/dev/null || true; wait "$service_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# Starts PROGRAM --headless with a private HOME and waits until it listens on a free port.
# Sets service_pid and service_port; the service's output is in $work/service.log.
start_headless() {
    program=$1
    home="$work/home"
    mkdir -p "$home" "$work/runtime"
    chmod 700 "$work/runtime"
    service_port=$(free_port)
    env -i PATH="$PATH" HOME="$home" XDG_RUNTIME_DIR="$work/runtime" TMPDIR="$work" \
        VELLUMO_PORT="$service_port" VELLUMO_UPDATE_SERVER=off \
        ASAN_OPTIONS="${ASAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" \
        "$program" --headless > "$work/service.log" 2>&1 &
    service_pid=$!
    tries=0
    until grep -q "pairing password" "$work/service.log" 2>/dev/null; do
        kill -0 "$service_pid" 2>/dev/null || { cat "$work/service.log" >&2; fail "$program exited"; }
        tries=$((tries + 1))
        [ "$tries" -lt 600 ] || fail "$program did not start listening"
        sleep 0.1
    done
}

stop_headless() {
    kill -TERM "$service_pid"
    wait "$service_pid" || fail "the installed vellumo did not stop cleanly"
    service_pid=""
}
