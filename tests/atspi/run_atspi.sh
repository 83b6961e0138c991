#!/usr/bin/env bash
# The panel as a screen reader sees it: a virtual display, a private session
# bus and the accessibility bus, the simulated sensor on a pseudo-terminal and
# the real program on the xcb platform; check_panel.py then reads and drives
# the window over AT-SPI. Everything started here is stopped on exit.
#
#   run_atspi.sh PROGRAM KXSIM
set -euo pipefail

program=$(realpath "${1:?usage: run_atspi.sh PROGRAM KXSIM}")
kxsim=$(realpath "${2:?usage: run_atspi.sh PROGRAM KXSIM}")
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3 # Debian's: pyatspi is packaged for it only
bus_launcher=/usr/libexec/at-spi-bus-launcher

fail() {
    echo "run_atspi: $*" >&2
    exit 1
}

command -v Xvfb >/dev/null && command -v dbus-launch >/dev/null && [ -x "$bus_launcher" ] &&
    "$python" -c 'import pyatspi' 2>/dev/null ||
    fail "needs xvfb, dbus-x11, at-spi2-core and python3-pyatspi: run scripts/install-deps.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/orv-atspi.XXXXXX")
xvfb_pid="" dbus_pid="" launcher_pid="" sim_pid="" program_pid=""

# Ends a process (with a leading "-": a process group) and waits until it is
# gone: TERM first, KILL after 5 s.
stop() {
    local target=$1 pid=${1#-}
    [ -n "$pid" ] || return 0
    kill -TERM -- "$target" 2>/dev/null || return 0
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
    done
    kill -KILL -- "$target" 2>/dev/null || true
}

cleanup() {
    local rc=$?
    stop "$program_pid"
    stop "$sim_pid"
    stop "-$launcher_pid"
    stop "$dbus_pid"
    stop "$xvfb_pid"
    if [ $rc -ne 0 ] && [ -s "$work/program.log" ]; then
        echo "--- program output (last 40 lines) ---" >&2
        tail -n 40 "$work/program.log" >&2
    fi
    rm -rf "$work"
    exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Polls a command until it succeeds; fails with MESSAGE after SECONDS.
wait_for() {
    local seconds=$1 message=$2
    shift 2
    local end=$((SECONDS + seconds))
    until "$@"; do
        [ $SECONDS -lt $end ] || fail "$message (waited ${seconds} s)"
        sleep 0.1
    done
}

# Nothing of the user's desktop session (bus addresses, dialog settings) is
# read or written.
mkdir -m 700 "$work/runtime"
mkdir "$work/config" "$work/cache" "$work/data" "$work/project"
export XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config
export XDG_CACHE_HOME=$work/cache XDG_DATA_HOME=$work/data
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS

# The X server picks a free display and writes its number once it accepts
# connections. Without -noreset it resets whenever its last client leaves
# (the bus launcher connects only for a moment), and a connection made
# during the reset is refused.
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp -noreset 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
wait_for 20 "Xvfb did not start: $(cat "$work/xvfb.log")" grep -q '^[0-9]' "$work/display"
export DISPLAY=:$(head -n 1 "$work/display")

eval "$(dbus-launch --sh-syntax)"
dbus_pid=$DBUS_SESSION_BUS_PID
# A process group of its own: the bus it starts and the registry go with it.
setsid "$bus_launcher" --launch-immediately >"$work/bus-launcher.log" 2>&1 &
launcher_pid=$!

"$kxsim" --link "$work/kx1" --eeprom "$work/eeprom.dat" >"$work/kxsim.log" 2>&1 &
sim_pid=$!
wait_for 10 "kxsim made no link $work/kx1: $(cat "$work/kxsim.log")" test -e "$work/kx1"

# The real xcb platform whatever the caller set, in a fresh project directory.
# With AddressSanitizer's leak check on, the system libraries' leaks are
# passed over (lsan.supp).
(
    cd "$work/project"
    exec env -u QT_QPA_PLATFORM QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 \
        LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$here/lsan.supp" \
        ORVANSCOPE_COM1="$work/kx1" "$program"
) >"$work/program.log" 2>&1 &
program_pid=$!

"$python" "$here/check_panel.py" --pid "$program_pid" --sensor-pid "$sim_pid"

# The program must end cleanly on SIGTERM, also after being driven over the bus.
kill -TERM "$program_pid"
rc=0
wait "$program_pid" || rc=$?
program_pid=""
[ $rc -eq 0 ] || fail "the program ended with exit code $rc on SIGTERM"
