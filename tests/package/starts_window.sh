#!/usr/bin/env bash
# Sourced by the package checks: starts_window DIR COMMAND... runs COMMAND
# (in DIR, headless, with a home of its own) and succeeds when, within 10 s,
# the process has become the window program with Qt Widgets mapped.
starts_window() {
  local dir=$1; shift
  local home
  home=$(mktemp -d)
  # A copy run by root keeps its lock in a /root of its own where it can.
  local wrap=()
  if [ "$(id -u)" = 0 ] && unshare --mount --propagation private true 2> /dev/null; then
    wrap=(unshare --mount --propagation private sh -c 'mount -t tmpfs tmpfs /root && exec "$@"' sh)
  fi
  (cd "$dir" && HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config \
     XDG_RUNTIME_DIR= QT_QPA_PLATFORM=offscreen exec "${wrap[@]}" "$@") > /dev/null 2>&1 &
  local pid=$! ok=1
  for _ in $(seq 100); do
    # The window: the window program, with the widget library mapped (in
    # the wrapper's child where there is one).
    for p in $pid $(cat /proc/$pid/task/*/children 2> /dev/null); do
      if [[ $(readlink /proc/$p/exe 2> /dev/null) == */qmlsetup-window ]] \
         && grep -q libQt6Widgets /proc/$p/maps 2> /dev/null; then
        ok=0
      fi
    done
    [ $ok = 0 ] && break
    kill -0 $pid 2> /dev/null || break
    sleep 0.1
  done
  pkill -P $pid 2> /dev/null || true
  kill $pid 2> /dev/null || true
  wait $pid 2> /dev/null || true
  rm -rf "$home"
  return $ok
}
