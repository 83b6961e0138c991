#!/usr/bin/env bash
# Checks what an operator installs:
#  1. `cmake --install` into a staging directory, then the installed program is
#     started offscreen against the installed simulated sensor: it must load its
#     panel from the installation's data directory, pass the line check, and
#     shut down in order (exit 0) when asked to terminate. Without its panel
#     file the installed program must end at once with -1.
#     The installed orvanscope-cli must document its commands (--help), link no
#     widget or GUI library, and pass the line check with DISPLAY unset.
#  2. The Debian package is built with CPack; its control data must declare the
#     run-time libraries and its contents must hold every installed file. The
#     package is unpacked and the program started from there in the same way.
#
#   scripts/check-install.sh            uses build/default (built if needed)
#   ORV_BUILD_DIR=dir scripts/check-install.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${ORV_BUILD_DIR:-$root/build/default}

scripts/install-deps.sh
if [ ! -f "$build/CMakeCache.txt" ]; then
    if [ -n "${ORV_BUILD_DIR:-}" ]; then
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    else
        cmake --preset default >/dev/null
    fi
fi
cmake --build "$build"

work=$(mktemp -d /tmp/orv-check-install.XXXXXX)
sim_pid=""
app_pid=""
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
pass() { echo "check-install: ok   $*"; passed=$((passed + 1)); }
fail() { echo "check-install: FAIL $*" >&2; failed=$((failed + 1)); }

# Waits up to $2 seconds for the file $1 to exist.
wait_for_file() {
    for _ in $(seq $(($2 * 10))); do
        [ -e "$1" ] && return 0
        sleep 0.1
    done
    return 1
}

# check_cli LABEL PREFIX LINK: the installed orvanscope-cli without a display.
check_cli() {
    local label=$1 cli=$2/bin/orvanscope-cli link=$3
    if "$cli" --help 2>&1 | grep -q "^Exit codes"; then
        pass "$label: orvanscope-cli --help documents its commands"
    else
        fail "$label: orvanscope-cli --help failed"
    fi
    local gui
    gui=$(ldd "$cli" | grep -Eo 'libQt6(Widgets|Gui)[^ ]*' || true)
    if [ -z "$gui" ]; then
        pass "$label: orvanscope-cli links no widget or GUI library"
    else
        fail "$label: orvanscope-cli links $(echo $gui)"
    fi
    if (cd "$work" && env -u DISPLAY -u QT_QPA_PLATFORM ORVANSCOPE_COM1=$link "$cli" -q check); then
        pass "$label: orvanscope-cli checked the line without a display"
    else
        fail "$label: orvanscope-cli check failed"
    fi
}

# run_installed LABEL PREFIX: starts PREFIX/bin/OrvanscopeV10 against
# PREFIX/bin/kxsim and checks start-up, line check and orderly termination.
run_installed() {
    local label=$1 prefix=$2
    local link=$work/com1-$label log=$work/log-$label proj=$work/project-$label
    mkdir -p "$proj"
    "$prefix/bin/kxsim" --link "$link" >/dev/null &
    sim_pid=$!
    if ! wait_for_file "$link" 10; then
        fail "$label: the installed simulated sensor did not start"
        kill "$sim_pid" 2>/dev/null || true
        sim_pid=""
        return
    fi
    check_cli "$label" "$prefix" "$link"
    (cd "$proj" && QT_QPA_PLATFORM=offscreen ORVANSCOPE_COM1=$link \
        QT_LOGGING_RULES="orvanscope.line.debug=true" exec "$prefix/bin/OrvanscopeV10") 2>"$log" &
    app_pid=$!
    local verdict=""
    for _ in $(seq 300); do
        if grep -q "status: Echo Check - Line Ok!" "$log"; then
            verdict=up
            break
        fi
        if ! kill -0 "$app_pid" 2>/dev/null; then
            verdict=ended
            break
        fi
        sleep 0.1
    done
    if [ "$verdict" = up ]; then
        pass "$label: installed program loaded its panel and checked the line"
        kill -TERM "$app_pid"
        local rc=0
        wait "$app_pid" || rc=$?
        if [ "$rc" -eq 0 ]; then
            pass "$label: installed program shut down in order (exit 0)"
        else
            fail "$label: installed program exited $rc after SIGTERM"
        fi
    else
        local rc=0
        if [ "$verdict" = ended ]; then
            wait "$app_pid" || rc=$?
        else
            kill "$app_pid" 2>/dev/null || true
            wait "$app_pid" 2>/dev/null || true
        fi
        fail "$label: installed program did not come up (${verdict:-no line check in 30 s}, exit $rc)"
        sed 's/^/    /' "$log" >&2
    fi
    app_pid=""
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
}

# --- 1. staged install -------------------------------------------------------
stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr >/dev/null
for f in usr/bin/OrvanscopeV10 usr/bin/kxsim usr/bin/orvanscope-cli usr/share/man/man1/orvanscope-cli.1 \
    usr/share/orvanscope/OrvanscopeV10.uir \
    usr/share/applications/orvanscope.desktop usr/share/icons/hicolor/scalable/apps/orvanscope.svg \
    usr/share/orvanscope/examples/KXconfig.dat usr/share/orvanscope/examples/KXpara.dat \
    usr/share/doc/orvanscope/README.md; do
    [ -e "$stage/$f" ] || fail "staged install lacks /$f"
done
if [ -e "$stage/usr/bin/OrvanscopeV10.uir" ]; then fail "the panel file is installed into bin/"; fi
run_installed staged "$stage/usr"

# Without its panel file the program ends at once with -1 and opens no port.
# (Skipped when a system-wide installation would supply the panel file.)
configured_data=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")/share/orvanscope
if [ -e "$configured_data/OrvanscopeV10.uir" ]; then
    echo "check-install: skip missing-panel check ($configured_data holds a panel file)"
else
    mv "$stage/usr/share/orvanscope/OrvanscopeV10.uir" "$work/panel.uir"
    rc=0
    (cd "$work" && ORVANSCOPE_COM1=/nonexistent QT_QPA_PLATFORM=offscreen \
        timeout 20 "$stage/usr/bin/OrvanscopeV10") 2>/dev/null || rc=$?
    if [ "$rc" -eq 255 ]; then
        pass "staged: without its panel file the program exits -1"
    else
        fail "staged: without its panel file the program exited $rc, not -1"
    fi
    mv "$work/panel.uir" "$stage/usr/share/orvanscope/OrvanscopeV10.uir"
fi

# --- 2. Debian package -------------------------------------------------------
rm -f "$build"/orvanscope_*.deb
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || {
    fail "cpack -G DEB failed"
    sed 's/^/    /' "$work/cpack.log" >&2
}
deb=$(ls "$build"/orvanscope_*.deb 2>/dev/null | head -n1 || true)
if [ -n "$deb" ]; then
    pass "built $(basename "$deb") ($(du -k "$deb" | cut -f1) KiB)"
    depends=$(dpkg-deb -f "$deb" Depends)
    for lib in libqt6widgets6 libqt6serialport6 libqt6charts6 libqt6core6 libstdc++6 qt6-qpa-plugins; do
        if grep -q "$lib" <<<"$depends"; then
            pass "package depends on $lib"
        else
            fail "package does not declare $lib (Depends: $depends)"
        fi
    done
    dpkg-deb -c "$deb" | awk '{print $NF}' >"$work/contents"
    for f in ./usr/bin/OrvanscopeV10 ./usr/bin/kxsim ./usr/bin/orvanscope-cli \
        ./usr/share/man/man1/orvanscope-cli.1 ./usr/share/orvanscope/OrvanscopeV10.uir \
        ./usr/share/applications/orvanscope.desktop ./usr/share/icons/hicolor/scalable/apps/orvanscope.svg \
        ./usr/share/orvanscope/examples/KXconfig.dat ./usr/share/orvanscope/examples/KXpara.dat; do
        if grep -qx "$f" "$work/contents"; then
            pass "package holds $f"
        else
            fail "package lacks $f"
        fi
    done
    dpkg-deb -x "$deb" "$work/deb"
    run_installed package "$work/deb/usr"
else
    fail "no package was built"
fi

echo "check-install: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
