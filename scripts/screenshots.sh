#!/usr/bin/env bash
# Takes the README's screenshots: the program against the simulated unit under
# Xvfb with a window manager, driven by xdotool. Needs a build (scripts/build.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${INSIDE_XVFB:-}" ]; then
  for p in xvfb xauth xdotool openbox imagemagick fonts-ipafont-gothic; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" \
      || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$p" > /dev/null
  done
  # -ac: the "ports" shots run the program as another user on this display.
  # The scale-1.5 shots on a 1366×768 laptop's screen.
  screen=1024x768x24
  [ "${1:-}" = scale15 ] && screen=1366x768x24
  INSIDE_XVFB=1 exec xvfb-run -a -s "-ac -screen 0 $screen" "$0" "$@"
fi
out=docs
mkdir -p "$out"
openbox > /dev/null 2>&1 &
wm=$!
sleep 1
app=${QML_APP_DIR:-build/app}
state=$(mktemp)
control=$(mktemp -u)
mkfifo "$control"
"${QML_SIM_BIN:-build/sim/qmlsim}" --link-dir "$app" --com 1 --state "$state" < "$control" > /dev/null 2>&1 &
sim=$!
exec 3> "$control" # held open: the unit takes commands at run time
trap 'exec 3>&-; kill $sim $wm 2>/dev/null || true; rm -f "$state" "$control"' EXIT
sleep 0.5
# The shots are Japanese, as the shipped set is, unless the mode is "en"
# (or LANG_SET=en).
if [ "${1:-}" = en ] || [ "${LANG_SET:-}" = en ]; then export QML47210_LANG=en; else export QML47210_LANG=ja; fi
# Every window one and a half times as large, as on a screen set to 150%.
scale=1
[ "${1:-}" = scale15 ] && { export QT_SCALE_FACTOR=1.5; scale=1.5; }
if [ "${1:-}" = sitebook ]; then
  # A site book of its own, filled by the command line before the window
  # opens its port: a read, a save, an apply with its backup, a network of
  # two units and a unit that does not answer, each unit simulated in a
  # folder of its own (its links, backups and text files there too).
  book=$(mktemp -d)
  sims=()
  for n in 2 3; do
    "${QML_SIM_BIN:-build/sim/qmlsim}" --link-dir "$book" --com $n < /dev/null > /dev/null 2>&1 &
    sims+=($!)
  done
  "${QML_SIM_BIN:-build/sim/qmlsim}" --link-dir "$book" --com 4 --fault "silent on" < /dev/null > /dev/null 2>&1 &
  sims+=($!)
  sleep 0.5
  export QML47210_SITE_BOOK="$book/sitebook.sqlite"
  cli() { QML47210_FILES="$book" "$app/qmlsetup" "$@" > /dev/null 2>&1 || true; sleep 1.1; }
  cli --port COM2 info
  cli --port COM2 save "$book/unit.ini"
  sed -e 's/^channel .*/channel     = 14/' -e '/^06 = /d' "$book/unit.ini" > "$book/unit-ch14.ini"
  cli --port COM2 apply "$book/unit-ch14.ini"
  cat > "$book/plan.ini" <<'PLAN'
[network]
format = 1
site = pump-station
band = 2
channel = 11

[node pump-house]
type = master
port = COM2

[node tank-1]
type = slave
port = COM3
PLAN
  cli network "$book/plan.ini"
  cli --port COM4 info
  kill "${sims[@]}" 2> /dev/null || true
fi
"$app/qmlsetup" &
prog=$!

# A window by its title; a search that meets a window going away tries again.
win() {
  local id
  for _ in $(seq 150); do
    id=$(xdotool search --onlyvisible --name "$1" 2> /dev/null | tail -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  echo "screenshots: no window \"$1\"" >&2
  return 1
}
shot() { sleep 0.8; import -frame -window "$1" "$out/$2.png"; }
# The same, looking the window up by its title each try: Qt may replace a
# dialog's native window while it settles.
shot_named() {
  local id
  for _ in 1 2 3 4 5; do
    sleep 0.8
    id=$(xdotool search --onlyvisible --name "$1" 2> /dev/null | tail -1 || true)
    [ -n "$id" ] && import -frame -window "$id" "$out/$2.png" 2> /dev/null && return 0
  done
  echo "screenshots: no window \"$1\"" >&2
  return 1
}
# Clicks at a point given in twips inside a window's client area, at the scale.
click_twips() {
  xdotool mousemove --window "$1" "$(awk -v t="$2" -v s="$scale" 'BEGIN { print int(t / 15 * s) }')" \
    "$(awk -v t="$3" -v s="$scale" 'BEGIN { print int(t / 15 * s) }')" click 1
}

if [ "${1:-}" = en ]; then
  # An English operator: the main window, and the settings screen after a read.
  main=$(win "QML47210 Setup Tool")
  shot "$main" main-window-en
  click_twips "$main" 2900 1400         # wireless unit button
  set=$(win "Radio settings")
  sleep 1.5
  click_twips "$set" 2580 5587          # read
  sleep 1.5
  shot "$set" settings-screen-en
  kill $prog 2>/dev/null || true
  exit 0
fi

if [ "${1:-}" = scale15 ]; then
  # The main window, the settings screen after a read, and the network
  # window, each as it opens on the screen: at 150% a window larger than
  # the screen is made to fit it. LANG_SET=en for the English ones; the
  # shots are named by their language.
  lang=$QML47210_LANG
  if [ "$lang" = en ]; then titles=("QML47210 Setup Tool" "Radio settings" "Network set-up")
  else titles=("QML47210 設定ツール" "無線設定" "ネットワーク設定"); fi
  main=$(win "${titles[0]}")
  shot "$main" "main-window-scale15-$lang"
  click_twips "$main" 2900 1400         # wireless unit button
  set=$(win "${titles[1]}")
  sleep 1.5
  click_twips "$set" 2580 5587          # read
  sleep 1.5
  shot "$set" "settings-screen-scale15-$lang"
  xdotool windowactivate --sync "$main" 2> /dev/null || true
  xdotool mousemove --window "$main" 45 15 click 1   # "System" menu
  sleep 0.5
  xdotool key Down Down Down Down Return
  net=$(win "${titles[2]}")
  sleep 1
  xdotool windowactivate --sync "$net" 2> /dev/null || true
  # "New plan": the commented example, its units in the table.
  if [ "$lang" = en ]; then xdotool mousemove --window "$net" 864 32 click 1
  else xdotool mousemove --window "$net" 821 32 click 1; fi
  sleep 1
  shot "$net" "network-window-scale15-$lang"
  kill $prog 2> /dev/null || true
  wait $prog 2> /dev/null || true
  exit 0
fi

if [ "${1:-}" = status ]; then
  # The main window naming its open port, the port dialog listing a device
  # under a long name, and the exit question; LANG_SET=en for the English
  # ones, QT_SCALE_FACTOR=1.5 to look at them larger.
  suffix=${SHOT_SUFFIX:-}
  main=$(win "${MAIN_TITLE:-QML47210 設定ツール}")
  shot "$main" "main-window-port$suffix"
  xdotool mousemove --window "$main" 30 10 click 1   # "System" menu
  sleep 0.5
  xdotool key Down Return
  com=$(win "${PORT_TITLE:-通信ポート選択}")
  sleep 1
  shot_named "${PORT_TITLE:-通信ポート選択}" "port-dialog-devices$suffix"
  com=$(xdotool search --onlyvisible --name "${PORT_TITLE:-通信ポート選択}" | tail -1)
  xdotool windowfocus --sync "$com" key Escape
  sleep 0.5
  xdotool mousemove --window "$main" 30 10 click 1
  sleep 0.5
  xdotool key Down Down Return                        # save the unit's configuration
  win "${SAVE_TITLE:-ユニット設定を保存}" > /dev/null
  shot_named "${SAVE_TITLE:-ユニット設定を保存}" "save-dialog$suffix"
  xdotool windowfocus --sync "$(win "${SAVE_TITLE:-ユニット設定を保存}")" key Escape
  sleep 0.5
  xdotool mousemove --window "$main" 30 10 click 1
  sleep 0.5
  xdotool key Up Return                               # the end item
  win "${EXIT_TITLE:-QML47210 無線データ伝送ユニット}" > /dev/null
  shot_named "${EXIT_TITLE:-QML47210 無線データ伝送ユニット}" "exit-dialog$suffix"
  exitw=$(xdotool search --onlyvisible --name "${EXIT_TITLE:-QML47210 無線データ伝送ユニット}" | tail -1)
  xdotool windowfocus --sync "$exitw" key Escape
  sleep 1.5
  kill $prog 2>/dev/null || true
  exit 0
fi

if [ "${1:-}" = traffic ]; then
  # The traffic console during a read on the settings screen, the link poll
  # hidden. LANG_SET=en for the English shot.
  suffix=${SHOT_SUFFIX:-}
  main=$(win "${MAIN_TITLE:-QML47210 設定ツール}")
  xdotool mousemove --window "$main" 30 10 click 1   # "System" menu
  sleep 0.5
  xdotool key Down Down Down Down Down Return
  con=$(win "${CON_TITLE:-通信モニタ}")
  sleep 0.5
  xdotool windowsize "$con" 760 420
  xdotool windowmove "$con" 250 330
  xdotool windowactivate --sync "$main" 2> /dev/null || true
  click_twips "$main" 2900 1400         # wireless unit button
  set=$(win "${SET_TITLE:-無線設定}")
  xdotool windowmove "$set" 0 0
  sleep 1.5
  click_twips "$set" 2580 5587          # read
  sleep 1.5
  echo "echo on" >&3                    # a two-wire adapter: its echo is no reply
  sleep 0.3
  click_twips "$set" 2580 5587          # read again
  sleep 1.5
  xdotool windowactivate --sync "$con" 2> /dev/null || true   # on top for its picture
  shot "$con" "traffic-console$suffix"
  kill $prog 2> /dev/null || true
  wait $prog 2> /dev/null || true
  exit 0
fi

if [ "${1:-}" = network ]; then
  # The network window: a plan of four units (the simulated unit on COM1 the
  # master, three more on COM2 to COM4, all answering at 1200 bit/s so the
  # progress can be seen), then the set-up under way and its result.
  # LANG_SET=en for the English shots.
  suffix=${SHOT_SUFFIX:-}
  main=$(win "${MAIN_TITLE:-QML47210 設定ツール}")
  echo "baud 1200" > "$control"
  sims=()
  for n in 2 3 4; do
    "${QML_SIM_BIN:-build/sim/qmlsim}" --link-dir "$app" --com $n --fault "baud 1200" < /dev/null > /dev/null 2>&1 &
    sims+=($!)
  done
  work=$(mktemp -d)
  cat > "$work/site.ini" <<'PLAN'
# The pump station's radio network: one master, three slaves.
[network]
format = 1
band = 2
channel = 11
bit-rate = 19200

[node pump-house]
type = master
port = COM1

[node tank-1]
type = slave
port = COM2
bit-rate = 9600

[node tank-2]
type = slave
port = COM3

[node tank-3]
type = slave
port = COM4
PLAN
  xdotool mousemove --window "$main" 30 10 click 1   # "System" menu
  sleep 0.5
  xdotool key Down Down Down Down Return
  net=$(win "${NET_TITLE:-ネットワーク設定}")
  sleep 1
  xdotool windowactivate --sync "$net" 2> /dev/null || true
  xdotool windowsize "$net" 900 600
  sleep 0.5
  [ -n "${SHOT_DEBUG:-}" ] && shot "$net" network-debug
  xdotool mousemove --window "$net" "${OPEN_X:-600}" "${OPEN_Y:-22}" click 1   # Open plan...
  files=$(win "${OPEN_TITLE:-プランを開く}")
  sleep 0.5
  xdotool windowactivate --sync "$files" 2> /dev/null || true
  xdotool key ctrl+a
  xdotool type --delay 20 "$work/site.ini"
  xdotool key Return
  sleep 1.5
  shot "$net" "network-plan$suffix"
  xdotool mousemove --window "$net" "${SETUP_X:-233}" "${SETUP_Y:-523}" click 1  # Set up
  sleep 2
  shot "$net" "network-progress$suffix"
  sleep 6
  shot "$net" "network-result$suffix"
  kill $prog "${sims[@]}" 2> /dev/null || true
  wait $prog 2> /dev/null || true
  rm -rf "$work"
  for n in 2 3 4; do rm -f "$app/COM$n"; done
  exit 0
fi

if [ "${1:-}" = sitebook ]; then
  # The site book window with those entries, then the network set-up's
  # entry of pump-house whole: found by typing its name, opened with a
  # double click. LANG_SET=en for the English shots.
  suffix=${SHOT_SUFFIX:-}
  main=$(win "${MAIN_TITLE:-QML47210 設定ツール}")
  xdotool mousemove --window "$main" 30 10 click 1   # "System" menu
  sleep 0.5
  xdotool key Down Down Down Down Down Down Return
  sb=$(win "${BOOK_TITLE:-サイトブック}")
  xdotool windowactivate --sync "$sb" 2> /dev/null || true
  xdotool windowsize "$sb" 900 360
  xdotool windowmove "$sb" 40 40
  sleep 1
  shot "$sb" "site-book$suffix"
  xdotool type --delay 50 "pump-house"
  sleep 1
  [ -n "${SHOT_DEBUG:-}" ] && shot "$sb" site-book-debug
  xdotool mousemove --window "$sb" 120 "${ROW_Y:-62}" click --repeat 2 --delay 80 1
  entry=$(win "${ENTRY_TITLE:-サイトブックのエントリー}")
  xdotool windowsize "$entry" 960 640
  xdotool windowmove "$entry" 20 20
  sleep 1
  shot "$entry" "site-book-entry$suffix"
  kill $prog 2> /dev/null || true
  wait $prog 2> /dev/null || true
  rm -rf "$book"
  exit 0
fi

main=$(win "QML47210 設定ツール")

if [ "${1:-}" = config ]; then
  # Saving the unit's configuration (the unit answers at 1200 bit/s, so the
  # progress can be seen), then applying a file whose register 27 says
  # another band than its record: the result lists the difference.
  # The progress dialog and the boxes after it share one title, so each
  # window is told from the ones before it by its id.
  visible() { xdotool search --onlyvisible --name "$2" 2> /dev/null | grep -qx "$1"; }
  # The first visible window titled exactly $1 that is none of $3...;
  # waits up to $2 seconds.
  next_win() {
    local title="^$1\$" tries=$(( $2 * 10 )) id
    shift 2
    for _ in $(seq "$tries"); do
      for id in $(xdotool search --onlyvisible --name "$title" 2> /dev/null); do
        case " $* " in *" $id "*) ;; *) echo "$id"; return 0 ;; esac
      done
      sleep 0.1
    done
    echo "screenshots: no window \"${title}\"" >&2
    return 1
  }
  # Waits until window $1 (titled like $2) is gone; $3 seconds at most.
  until_gone() {
    for _ in $(seq $(( $3 * 10 ))); do visible "$1" "$2" || return 0; sleep 0.1; done
    echo "screenshots: window $1 still open" >&2
    return 1
  }
  # Real key events to the focused window: Qt drops xdotool's synthetic
  # ones (--window), and focusing an unmapped window breaks the connection.
  focus() { xdotool windowactivate --sync "$1" 2> /dev/null || xdotool windowfocus --sync "$1"; sleep 0.3; }
  # Qt's file dialog opens with its file name box focused.
  choose_file() {
    focus "$1"
    xdotool key ctrl+a
    xdotool type --delay 20 "$2"
    sleep 0.3
    xdotool key Return
    until_gone "$1" "$3" 5 || { focus "$1"; xdotool key Return; until_gone "$1" "$3" 5; }
  }
  system_menu() { # opens item $1 of the "System" menu
    focus "$main"
    xdotool mousemove --window "$main" 30 10 click 1
    sleep 0.5
    for _ in $(seq "$1"); do xdotool key Down; done
    xdotool key Return
  }
  line=$(readlink -f "$app/COM1")
  work=$(mktemp -d)
  started="$work/started"
  touch "$started"
  saved="$work/unit.ini"
  changed="$work/unit-band.ini"
  echo "baud 1200" > "$control"

  system_menu 2
  files=$(win "ユニット設定を保存")
  sleep 0.5
  choose_file "$files" "$saved" "ユニット設定を保存"
  progress=$(next_win "ユニット設定" 10)
  sleep 0.3
  shot "$progress" config-progress
  box=$(next_win "ユニット設定" 60 "$progress")   # "saved"
  [ -s "$saved" ]
  focus "$box"
  xdotool key Return
  until_gone "$box" "^ユニット設定\$" 5

  sed -e 's/^27 = .*/27 = 06/' "$saved" > "$changed"
  system_menu 3
  files=$(win "ユニット設定を適用")
  sleep 0.5
  choose_file "$files" "$changed" "ユニット設定を適用"
  progress=$(next_win "ユニット設定" 10)
  box=$(next_win "ユニット設定" 90 "$progress")   # the result
  shot "$box" config-difference
  focus "$box"
  xdotool key Return
  until_gone "$box" "^ユニット設定\$" 5

  kill $prog 2> /dev/null || true
  wait $prog 2> /dev/null || true
  rm -f "/var/lock/LCK..${line#/dev/}" "/var/lock/LCK..pts_${line##*/}" # left by the kill
  # The backup the apply made of the simulated unit.
  if [ -d "$app/backups" ]; then
    find "$app/backups" -maxdepth 1 -name 'backup-*.ini' -newer "$started" -delete
    rmdir "$app/backups" 2> /dev/null || true
  fi
  rm -rf "$work"
  exit 0
fi

if [ "${1:-}" = ports ]; then
  # The port dialog with the devices present.
  xdotool mousemove --window "$main" 30 10 click 1   # "System" menu
  sleep 0.5
  xdotool key Down Return
  com=$(win "通信ポート選択")
  sleep 1.5
  shot "$com" port-dialog
  xdotool windowfocus --sync "$com" key Escape
  kill $prog 2>/dev/null || true
  wait $prog 2>/dev/null || true
  line=$(readlink -f "$app/COM1")
  rm -f "/var/lock/LCK..${line#/dev/}" "/var/lock/LCK..pts_${line##*/}" # left by the kill
  # The open failure as a user outside the device's group: a copy of the
  # program folder, the simulated unit's line owned by root:dialout.
  copy=$(mktemp -d)
  cp -r "$app"/. "$copy"/
  rm -f "$copy"/COM*
  ln -s "$(readlink -f "$app/COM1")" "$copy/COM1"
  chgrp dialout "$(readlink -f "$app/COM1")"
  chmod 660 "$(readlink -f "$app/COM1")"
  chmod -R a+rX "$copy"
  setpriv --reuid=nobody --regid=nogroup --clear-groups env DISPLAY="$DISPLAY" "$copy/qmlsetup" &
  box=$(win "通信ポートエラー")
  shot "$box" port-permission
  kill $! 2>/dev/null || true
  rm -rf "$copy"
  exit 0
fi
shot "$main" main-window

if [ "${1:-}" = screens ]; then
  click_twips "$main" 2900 1400         # wireless unit button
  set=$(win "無線設定")
  sleep 1.5
  click_twips "$set" 2580 5587          # read
  sleep 1.5
  shot "$set" settings-screen
  for _ in 1 2 3 4 5; do click_twips "$set" 3170 360; sleep 0.2; done
  reg=$(win "レジスタ編集")
  click_twips "$reg" 2750 2287          # read
  sleep 1
  shot "$reg" register-editor
  xdotool windowfocus --sync "$reg" key Escape
  sleep 0.5
  xdotool windowfocus --sync "$set" key alt+F4 || true
fi

xdotool mousemove --window "$main" 90 10 click 1   # "Version" menu
sleep 0.5
xdotool key Down Return
ver=$(win "バージョン情報")
shot "$ver" version-dialog
xdotool windowfocus --sync "$ver" key Return
sleep 0.5

# Last: answering the exit question closes the port, as it should.
click_twips "$main" 3990 4240           # Exit button, below the menu bar
exitw=$(win "QML47210 無線データ伝送ユニット")
shot "$exitw" exit-dialog
xdotool windowfocus --sync "$exitw" key Escape
sleep 1.5
kill $prog 2>/dev/null || true
