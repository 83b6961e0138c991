#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program. Unless ORVANSCOPE_COM1
# already names a device, port 1 is connected to the simulated sensor, so the
# tool can be tried without hardware. The project directory (where the file
# dialogs open, "KXconfig.dat" is looked for and "KXlinear.dat" is written) is
# examples/ unless ORVANSCOPE_PROJECT_DIR names another one.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
bin=$root/build/default/bin

sim_pid=""
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true; }
trap cleanup EXIT

if [ -z "${ORVANSCOPE_COM1:-}" ]; then
  link=$(mktemp -u /tmp/orvanscope-sim.XXXXXX)
  "$bin/kxsim" --link "$link" --eeprom "$root/build/default/sim-eeprom.dat" >/dev/null &
  sim_pid=$!
  for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
  export ORVANSCOPE_COM1=$link
  echo "Port 1 is the simulated sensor ($link)."
fi

cd "${ORVANSCOPE_PROJECT_DIR:-$root/examples}"
"$bin/OrvanscopeV10"
