#!/usr/bin/env bash
# Takes the user guide's pictures (docs/img/*.png) of the real program on a
# virtual X display, against the simulated sensor: after start-up, the live
# scope running, a parameter read from the sensor's RAM, two edits not yet
# sent, a finished correction programming, a failure that stays over the
# running scope, the status history and the line view. Builds what is needed
# first.
#
#   docs/make-screenshots.sh            uses build/default
#   ORV_BUILD_DIR=dir docs/make-screenshots.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${ORV_BUILD_DIR:-$root/build/default}
scripts/install-deps.sh
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target make_shots
# The real X platform on a virtual screen larger than the 1280x900 window
# and wide enough for every column of the line view.
env -u QT_QPA_PLATFORM xvfb-run -a -s "-screen 0 1920x1080x24" \
    "$build/bin/make_shots" "$root/docs/img" "$root/examples"
