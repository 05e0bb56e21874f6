#!/usr/bin/env bash
# Sets up, builds and starts the program against the simulated unit, linked
# as COM1 of the program folder. Closing the program ends the simulated unit.
# With QML_PORT=real the simulated unit is left out and the program opens the
# port that setcom.ini names.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
app=build/app
if [ "${QML_PORT:-sim}" = real ]; then
  rm -f "$app/COM1"
  exec "$app/qmlsetup"
fi
# The unit's state lives beside the build, so it survives a restart.
# Faults are switched at run time by writing to build/sim-control, e.g.
#   echo "silent on" > build/sim-control
control=build/sim-control
rm -f "$control"
mkfifo "$control"
build/sim/qmlsim --link-dir "$app" --com 1 --state build/sim-state.txt \
  < "$control" > build/sim.log 2>&1 &
sim=$!
exec 3> "$control"   # held open, so the control channel stays up between writes
trap 'exec 3>&-; kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; rm -f "$control"' EXIT
for _ in $(seq 50); do [ -L "$app/COM1" ] && break; sleep 0.1; done
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display: starting under xvfb-run (nothing to see; set DISPLAY to use a screen)."
  xvfb-run -a "$app/qmlsetup"
else
  "$app/qmlsetup"
fi
