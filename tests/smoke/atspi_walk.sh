#!/usr/bin/env bash
# Screen-reader walk: the built dorvane on its own X server and its own
# session and accessibility buses, with three documents; atspi_walk.py walks
# its tree through AT-SPI as a screen reader does.
#   tests/smoke/atspi_walk.sh path/to/dorvane
set -euo pipefail

exe=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
for tool in Xvfb xdotool dbus-run-session /usr/libexec/at-spi-bus-launcher; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (run scripts/setup)"; exit 1; }
done

# A session bus of our own; the accessibility bus is started on it on demand.
if [[ -z "${DORVANE_ATSPI_SESSION:-}" ]]; then
  exec env DORVANE_ATSPI_SESSION=1 dbus-run-session -- bash "$0" "$@"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/dorvane-atspi.XXXXXX")
xvfb_pid=""
app_pid=""
cleanup() {
  [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

mkfifo "$work/displayfd"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/displayfd" 2>"$work/xvfb.log" &
xvfb_pid=$!
read -r -t 30 display <"$work/displayfd" || { echo "FAIL: Xvfb did not start: $(cat "$work/xvfb.log")"; exit 1; }
export DISPLAY=":$display"
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

mkdir "$work/app" "$work/docs"
cp "$exe" "$work/app/dorvane"
docs=("$work/docs/one.txt" "$work/docs/two words.txt" "$work/docs")
printf 'one\n' >"${docs[0]}"
printf 'two words\n' >"${docs[1]}"

"$work/app/dorvane" "${docs[@]}" >"$work/app.log" 2>&1 &
app_pid=$!
# Debian's own Python: its pyatspi is not in other interpreters' paths.
status=0
timeout 90 /usr/bin/python3 "$here/atspi_walk.py" "${docs[@]}" || status=$?
((status == 0)) || { echo "app output:"; cat "$work/app.log"; exit "$status"; }
