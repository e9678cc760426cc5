# Sourced by the scripts that run the window on a private X server (screenshots, the idle
# benchmark). Gives a scratch program folder, registry and runtime folder, an Xvfb on a free
# display, and `start_tavrel BUILD_DIR`; everything it started is stopped on exit.
tmp=$(mktemp -d)
xvfb_pid=""
tavrel_pid=""
cleanup() {
  if [ -n "$tavrel_pid" ]; then
    kill "$tavrel_pid" 2>/dev/null || true
    wait "$tavrel_pid" 2>/dev/null || true
  fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  # A window ended by a signal leaves the mount of its open mailbox behind (the next start
  # would take it away); take it away here before the scratch folder goes.
  awk -v t="$tmp/" 'index($2, t) == 1 { print $2 }' /proc/mounts 2>/dev/null |
    while read -r m; do fusermount3 -u -z "$m" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT
export TAVREL_HOME=$tmp/home TAVREL_REGISTRY=$tmp/registry.ini XDG_RUNTIME_DIR=$tmp/run
mkdir -p "$TAVREL_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# start_xvfb WxH: a server without resets between clients.
start_xvfb() {
  Xvfb -displayfd 5 -screen 0 "$1x24" -nolisten tcp -noreset 5>"$tmp/display" 2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 50); do [ -s "$tmp/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(cat "$tmp/display")
  unset QT_QPA_PLATFORM WAYLAND_DISPLAY
}

start_tavrel() {
  "$1/Tavrel" 2>/dev/null &
  tavrel_pid=$!
}

# wait_window NAME: prints the id of the visible window with that title (empty after 10 s).
wait_window() {
  local id=""
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -n 1) && [ -n "$id" ] && break
    sleep 0.1
  done
  echo "$id"
}
