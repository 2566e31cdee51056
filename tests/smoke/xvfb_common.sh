# Sourced by the real-window tests: a scratch directory with a home of its
# own, an X server of the test's own on a display it picks itself (so parallel
# runs never collide), optionally a session bus of its own, and their removal
# at exit, with the program under test when app_pid is set and the window
# manager when wm_pid is.
#   source xvfb_common.sh NAME; start_xvfb; start_session_bus; start_openbox

source "$(dirname "${BASH_SOURCE[0]}")/smoke_common.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/dorvane-$1.XXXXXX")
xvfb_pid=""
wm_pid=""
app_pid=""
bus_pid=""
cleanup() {
  [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
  [[ -n "$bus_pid" ]] && kill "$bus_pid" 2>/dev/null || true
  [[ -n "$wm_pid" ]] && kill "$wm_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  exit 1
}

start_xvfb() {
  mkfifo "$work/displayfd"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/displayfd" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  read -r -t 30 display <"$work/displayfd" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  export DISPLAY=":$display"
  export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
  export XDG_RUNTIME_DIR="$work/runtime"
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
}

# A session bus of the test's own. Without one, GIO starts a bus daemon of
# its own on the X display when dbus-x11 is installed, which then stays in
# the program's process group; with one, nothing reaches the user's bus.
start_session_bus() {
  local out
  out=$(dbus-daemon --session --fork --print-address=1 --print-pid=1) || fail "the session bus did not start"
  DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$out")
  bus_pid=$(sed -n 2p <<<"$out")
  export DBUS_SESSION_BUS_ADDRESS
}

# A window manager that frames and places windows, as on a desktop.
start_openbox() {
  openbox --sm-disable >"$work/openbox.log" 2>&1 &
  wm_pid=$!
  wm_running() { [[ -n $(xdotool search --classname openbox 2>/dev/null) ]]; }
  wait_for 30 wm_running || fail "openbox did not start: $(cat "$work/openbox.log")"
}
