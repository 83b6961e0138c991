#!/usr/bin/env bash
# Takes a screenshot of the running program on a virtual 1280x900 display.
#
#   scripts/screenshot.sh [out.png] [program] [seconds]
#
# out.png   where the picture goes (default: screenshot.png)
# program   the program to start (default: build/default/bin/OrvanscopeV10)
# seconds   how long to let it start before the picture is taken (default: 3)
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-screenshot.png}")
program=$(realpath -m "${2:-build/default/bin/OrvanscopeV10}")
wait_s=${3:-3}

for tool in xvfb-run import; do
    command -v "$tool" >/dev/null || { echo "screenshot.sh: $tool is missing (packages xvfb, imagemagick)" >&2; exit 1; }
done
[ -x "$program" ] || { echo "screenshot.sh: $program is not built" >&2; exit 1; }

# The program runs in the background on the virtual display; the picture is
# taken of the whole screen, then the program is stopped.
xvfb-run -a -s "-screen 0 1280x900x24" sh -c '
    "$1" & pid=$!
    sleep "$2"
    import -window root "$3"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
' sh "$program" "$wait_s" "$out"
echo "screenshot: $out"
