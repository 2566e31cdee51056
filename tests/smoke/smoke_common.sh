# Sourced by the smoke tests.

# Polls a command until it succeeds or the seconds run out.
wait_for() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.1
  done
}

# Our own X server on a display it picks itself, so parallel runs never
# collide, and a private home, configuration and runtime directory. Needs
# "work" (a scratch directory), a cleanup trap that stops "xvfb_pid", and fail.
start_xvfb() {
  mkfifo "$work/displayfd"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/displayfd" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  local display
  read -r -t 30 display <"$work/displayfd" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  export DISPLAY=":$display"
  export QT_QPA_PLATFORM=xcb
  export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
  export XDG_RUNTIME_DIR="$work/runtime" NO_AT_BRIDGE=1
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
}
