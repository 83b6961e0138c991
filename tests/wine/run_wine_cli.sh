#!/usr/bin/env bash
# orvanscope-cli.exe under Wine against kxsim, as a Windows user runs it.
#
#   tests/wine/run_wine_cli.sh EXE KXSIM LINUX_CLI
#
# Makes a fresh Wine prefix in a temporary folder (no display needed), maps
# its COM5 to the pseudo-terminal of a simulated sensor (in Wine's port table
# in the registry, from which Wine makes the dosdevices link: a bare link opens
# but is unknown to QueryDosDevice, so `ports` would not list it), and runs the
# Windows build there: ports, check, get (also as JSON, equal to the Linux
# build's), send with read-back (also from standard input), verify, measure,
# flash, a port that is not there, bad input and Ctrl+C. The same correction
# table is programmed into a second sensor by the Linux build: both sensors
# must then hold the same flash, word for word. The Windows sensor hands its
# replies over in pieces, as a real line does.
set -euo pipefail

exe=$(realpath "$1")
kxsim=$(realpath "$2")
linux_cli=$(realpath "$3")
root=$(cd "$(dirname "$0")/../.." && pwd)

work=$(mktemp -d /tmp/orv-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
sim_win=""
sim_linux=""
cleanup() {
    for pid in $sim_win $sim_linux; do kill "$pid" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
pass() { echo "wine: ok   $*"; passed=$((passed + 1)); }
fail() {
    echo "wine: FAIL $* (the last run exited ${rc:-?}; its output:)" >&2
    sed 's/^/    /' "$work/out" "$work/err" >&2 2>/dev/null || true
    failed=$((failed + 1))
}
# check LABEL COMMAND...: passes when the command succeeds.
check() {
    local label=$1
    shift
    if "$@"; then pass "$label"; else fail "$label"; fi
}

# wait_for PATH SECONDS: until PATH exists and, unless it is a device, holds something.
wait_for() {
    for _ in $(seq $(($2 * 10))); do
        [ -e "$1" ] && { [ -c "$1" ] || [ -s "$1" ]; } && return 0
        sleep 0.1
    done
    return 1
}

# win ARGS...: runs the Windows build in $work; its output in $work/out, $work/err, its exit code in $rc.
win() {
    rc=0
    (cd "$work" && wine "$exe" "$@") >"$work/out" 2>"$work/err" || rc=$?
}

started=$(date +%s)
wineboot -i >/dev/null 2>&1
echo "wine: prefix made in $(($(date +%s) - started)) s"

"$kxsim" --link "$work/kx-win" --trickle 9 --dump-flash "$work/flash-win.txt" >/dev/null &
sim_win=$!
"$kxsim" --link "$work/kx-linux" --dump-flash "$work/flash-linux.txt" >/dev/null &
sim_linux=$!
wait_for "$work/kx-win" 10 && wait_for "$work/kx-linux" 10 || {
    fail "the simulated sensors did not start"
    exit 1
}
pty=$(readlink -f "$work/kx-win")
wine reg add 'HKLM\Software\Wine\Ports' /v COM5 /d "$pty" /f >/dev/null 2>&1
wineserver -k 2>/dev/null || true # the port table is read when Wine starts
wineserver -p >"$work/wineserver.log" 2>&1 # and Wine stays up between the runs
cp "$root/examples/KXconfig.dat" "$work/KXconfig.dat"
mkdir -p "$work/linux"
cp "$root/examples/KXconfig.dat" "$work/linux/KXconfig.dat"

win ports
check "COM5 is Wine's link to the sensor's pseudo-terminal" test "$(readlink "$WINEPREFIX/dosdevices/com5")" = "$pty"
check "ports lists COM5" grep -qx '5   COM5' "$work/out"

win --port 5 check
check "check on port 5: Echo Check - Line Ok!" test $rc -eq 0 -a -n "$(grep -x 'Echo Check - Line Ok!' "$work/err")"
win --device 'COM5' check
check "check on --device COM5" test $rc -eq 0
win --device '\\.\COM5' --json get
check "get on --device \\\\.\\COM5" test $rc -eq 0
cp "$work/out" "$work/get-win.json"
rc=0
"$linux_cli" --device "$work/kx-linux" --json get >"$work/get-linux.json" 2>/dev/null || rc=$?
same_json() {
    python3 - "$work/get-win.json" "$work/get-linux.json" <<'EOF'
import json, sys
a, b = (json.load(open(p)) for p in sys.argv[1:3])
assert a.pop("device") == "\\\\.\\COM5", a
b.pop("device")
sys.exit(0 if a == b and list(a) == list(b) else 1)
EOF
}
check "get --json: the same JSON as the Linux build's, but for the device" same_json

win --port 5 --json send --target eeprom reference=600 tolerance=100
check "send with read-back: Read-back Ok!" test $rc -eq 0 -a -n "$(grep '"reference":600,"tolerance":100' "$work/out")"
win --port 5 -q get --target eeprom --out backup.dat
check "get --out writes the parameter file" grep -q ' 600	 100' "$work/backup.dat"
check "the parameter file ends its line as on Linux (no carriage return)" test -z "$(grep $'\r' "$work/backup.dat")"
win --port 5 -q get --target eeprom --out -
cp "$work/out" "$work/piped.dat"
rc=0
(cd "$work" && wine "$exe" --port 5 send --target ram --file - <piped.dat) >"$work/out" 2>"$work/err" || rc=$?
check "get --out - into send --file -: the block through standard output and input, as on Linux" \
    test $rc -eq 0 -a -n "$(grep -x 'Read-back Ok!' "$work/err")" -a -z "$(grep $'\r' "$work/piped.dat")"
win --port 5 verify --target eeprom --file backup.dat
check "verify against the backup: equal" test $rc -eq 0
sed 's/ 600/ 512/' "$work/backup.dat" >"$work/other.dat"
win --port 5 verify --target eeprom --file other.dat
check "verify against another file: exit 1, the slot named" test $rc -eq 1 -a -n "$(grep '^reference' "$work/out")"

win --port 5 measure --count 20 --csv m.csv
check "measure --count 20 writes 20 rows" test $rc -eq 0 -a "$(wc -l <"$work/m.csv")" -eq 21
check "measure's CSV header" test "$(head -n1 "$work/m.csv")" = "time_ms,value,reference,upper,lower,ref_output,tol_output"

started=$(date +%s)
win --port 5 flash KXconfig.dat
check "flash programs pages 4..7 in $(($(date +%s) - started)) s" test $rc -eq 0 -a "$(grep -c '^page[4-7] written$' "$work/out")" -eq 4
rc=0
(cd "$work/linux" && "$linux_cli" -q --device "$work/kx-linux" flash KXconfig.dat >/dev/null) || rc=$?
check "the Linux build programs the other sensor" test $rc -eq 0
check "KXlinear.dat is the same file from both builds" cmp -s "$work/KXlinear.dat" "$work/linux/KXlinear.dat"

win --port 9 check
check "a port that is not there: exit 3, cannot open port 9" test $rc -eq 3 -a -n "$(grep 'cannot open port 9: no such device' "$work/err")"
win --port 5 send reference=70000
check "a value out of range: exit 2" test $rc -eq 2

# Ctrl+C: Wine hands SIGINT to the program's console control handler.
(cd "$work" && exec wine "$exe" --port 5 measure --csv ctrl-c.csv) >/dev/null 2>"$work/err" &
measuring=$!
if wait_for "$work/ctrl-c.csv" 30 && sleep 1; then
    kill -INT "$measuring"
fi
rc=0
wait "$measuring" || rc=$?
rows=$(($(wc -l <"$work/ctrl-c.csv") - 1))
check "Ctrl+C ends measure with exit 130, every row kept ($rows)" \
    test $rc -eq 130 -a -n "$(grep "interrupted by Ctrl+C: measuring ended after $rows samples" "$work/err")"

# The sensors write their flash as they stop.
kill -TERM "$sim_win" "$sim_linux"
wait "$sim_win" "$sim_linux" || true
sim_win=""
sim_linux=""
check "both sensors hold 1024 flash words" test "$(wc -l <"$work/flash-win.txt")" -eq 1024 -a \
    "$(wc -l <"$work/flash-linux.txt")" -eq 1024
check "the flash programmed under Wine equals the Linux build's, word for word" \
    cmp -s "$work/flash-win.txt" "$work/flash-linux.txt"
check "and holds the table, not the sensor's blank flash" test "$(sort -u "$work/flash-win.txt" | wc -l)" -gt 100

echo "wine: $passed passed, $failed failed"
[ $failed -eq 0 ]
