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

source "$here/xvfb_common.sh" atspi
start_xvfb
export QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

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
((status == 0)) || fail "exit $status; dorvane's output: $(cat "$work/app.log")"
