#!/usr/bin/env bash
# Checks the Windows build of orvanscope-cli, made here with Debian's MinGW-w64:
#  1. the `mingw-cli` preset builds orvanscope-cli.exe and compiles every
#     toolkit-free part of the program for Windows;
#  2. the exe imports nothing but Windows' own DLLs (x86_64-w64-mingw32-objdump -p);
#  3. CPack's ZIP holds the exe, the guide, the manual page and the examples;
#  4. the window program's runtime on Qt passes the compiler's syntax check for
#     Windows, against this machine's Qt headers (Qt for Windows is not here,
#     so the window program itself is not built for Windows);
#  5. the exe works under Wine against kxsim (tests/wine/run_wine_cli.sh), next
#     to the Linux build (build/default, built if needed).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build/mingw-cli

scripts/install-deps.sh
[ -f build/default/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --build --preset default --target kxsim orvanscope-cli
cmake --preset mingw-cli >/dev/null
cmake --build --preset mingw-cli

passed=0
failed=0
pass() { echo "check-windows: ok   $*"; passed=$((passed + 1)); }
fail() { echo "check-windows: FAIL $*" >&2; failed=$((failed + 1)); }

exe=$build/bin/orvanscope-cli.exe
# Windows' own DLLs; anything else (libstdc++-6.dll, libwinpthread-1.dll, ...)
# would have to travel with the exe.
system_dlls='^(kernel32|msvcrt|ucrtbase|advapi32|user32|ws2_32|shell32|ole32|ntdll|api-ms-win-[a-z0-9-]+)\.dll$'
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
foreign=$(tr 'A-Z' 'a-z' <<<"$imports" | grep -Ev "$system_dlls" || true)
if [ -n "$imports" ] && [ -z "$foreign" ]; then
    pass "orvanscope-cli.exe imports only Windows' own DLLs: $(echo $imports)"
else
    fail "orvanscope-cli.exe imports $(echo ${foreign:-nothing})"
fi

rm -f "$build"/orvanscope-cli-*.zip
(cd "$build" && cpack -G ZIP >"$build/cpack.log" 2>&1) || { fail "cpack -G ZIP failed"; sed 's/^/    /' "$build/cpack.log" >&2; }
zip=$(ls "$build"/orvanscope-cli-*-windows-x64.zip 2>/dev/null | head -n1 || true)
if [ -n "$zip" ]; then
    pass "built $(basename "$zip") ($(du -k "$zip" | cut -f1) KiB)"
    contents=$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip")
    top=$(basename "$zip" .zip)
    for f in orvanscope-cli.exe orvanscope-guide.html orvanscope-cli.txt examples/KXconfig.dat examples/KXpara.dat \
        docs/img/startup.png; do
        if grep -qx "$top/$f" <<<"$contents"; then pass "the zip holds $f"; else fail "the zip lacks $f"; fi
    done
else
    fail "no zip was built"
fi

qt=$(qmake6 -query QT_INSTALL_HEADERS)
qt_runtime=(src/runtime/core/engine.cpp src/runtime/core/diag.cpp src/runtime/core/serial_open.cpp
    src/runtime/core/serial_io.cpp src/runtime/core/serial_ports.cpp src/runtime/files/panelfile.cpp
    src/runtime/panel/*.cpp)
# -Wno-attributes: the Linux headers' exports differ from a Windows Qt's.
if printf '%s\n' "${qt_runtime[@]}" | xargs -P 2 -I{} x86_64-w64-mingw32-g++-posix -std=c++20 -fsyntax-only \
    -Wall -Wextra -Werror -Wno-attributes -Isrc -I"$qt" -I"$qt/QtCore" -I"$qt/QtGui" -I"$qt/QtWidgets" \
    -I"$qt/QtSerialPort" -I"$qt/QtCharts" -I"$qt/QtUiTools" {}; then
    pass "the window program's runtime on Qt compiles for Windows (syntax, ${#qt_runtime[@]} files)"
else
    fail "the window program's runtime on Qt does not compile for Windows"
fi

bash tests/wine/run_wine_cli.sh "$exe" build/default/bin/kxsim build/default/bin/orvanscope-cli || failed=$((failed + 1))

echo "check-windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
