#!/usr/bin/env bash
# How long the program takes to end after "Yes" in the exit question: the
# real program under Xvfb against the simulated unit, driven by xdotool, with
# the settings screen open (SCREEN=1) or not, and the unit silent
# (SIM_FAULT="silent on") or answering. Three runs; prints each.
#   bash bench/exit_time.sh           (needs a build: scripts/build.sh)
set -uo pipefail
cd "$(dirname "$0")/.."
if [ -z "${INSIDE_XVFB:-}" ]; then
  for p in xvfb xauth xdotool openbox bc; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" \
      || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$p" > /dev/null
  done
  INSIDE_XVFB=1 exec xvfb-run -a -s "-ac -screen 0 1024x768x24" "$0" "$@"
fi
openbox > /dev/null 2>&1 & wm=$!
sleep 1
app=$(mktemp -d)
cp -r "${APP_DIR:-build/app}"/. "$app/"
rm -f "$app"/COM*
build/sim/qmlsim --link-dir "$app" --com 1 ${SIM_FAULT:+--fault "$SIM_FAULT"} > /dev/null 2>&1 < /dev/zero & sim=$!
trap 'kill $sim $wm 2> /dev/null; rm -rf "$app"' EXIT
sleep 0.5
export QML47210_LANG=en QML47210_FILES=$app
for _ in 1 2 3; do
  "$app/qmlsetup" 2> /dev/null & prog=$!
  main=$(xdotool search --sync --onlyvisible --name "QML47210 Setup Tool" | tail -1)
  sleep 1.5
  if [ -n "${SCREEN:-}" ]; then
    xdotool mousemove --window "$main" 194 100 click 1   # the wireless unit's button
    sleep 1.5
  fi
  xdotool windowactivate --sync "$main" key F10 Up Return   # System, the end item
  sleep 1
  question=$(xdotool search --sync --onlyvisible --name "QML47210 Wireless Data Unit" | tail -1)
  sleep 0.5
  start=$(date +%s.%N)
  xdotool windowactivate --sync "$question" key Return       # "Yes"
  wait $prog
  echo "ended $(echo "$(date +%s.%N) - $start" | bc) s after Yes"
done
