#!/usr/bin/env bash
# Dorvane in German in a real window: a portable copy of the built dorvane,
# its catalogs beside it, started under LANG=de_DE.UTF-8 on its own X server
# under openbox with five documents and a program entry that waits.
# xvfb_german.py reads it through AT-SPI against the German catalog. With
# DORVANE_SCREENSHOT_DIR set, the main window is then saved there as
# main-window-de.png. Exits 77 (skipped) without a tool, the locale or Qt's
# German translations.
#   tests/smoke/xvfb_german.sh path/to/dorvane
set -euo pipefail

exe=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
source "$here/smoke_common.sh"
need Xvfb dbus-daemon openbox xdotool /usr/bin/python3 /usr/libexec/at-spi-bus-launcher
[[ -z "${DORVANE_SCREENSHOT_DIR:-}" ]] || need import
locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8' || skip "the locale de_DE.UTF-8 is missing"
[[ -f /usr/share/qt6/translations/qtbase_de.qm ]] || skip "Qt's German translations are missing"
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || skip "pyatspi is missing"

source "$here/xvfb_common.sh" german
# The program entry's processes outlive a cancelled run; they go with the test.
stop_waiting() { [[ -f "$work/waiting" ]] && xargs kill <"$work/waiting" 2>/dev/null || true; }
trap 'stop_waiting; cleanup' EXIT

start_xvfb
start_session_bus
start_openbox

mkdir "$work/app" "$work/docs"
cp "$exe" "$work/app/dorvane"
cp -r "$(dirname "$exe")/locale" "$work/app/locale"
docs=()
for file in Angebot.pdf:48213 Bericht.odt:23871 Haushalt.ods:17392 Notizen.txt:2604; do
  docs+=("$work/docs/${file%:*}")
  head -c "${file#*:}" /dev/zero >"${docs[-1]}"
done
docs+=("$work/docs/Rechnungen")
mkdir "${docs[-1]}"
# Each document's program writes down its process and waits half a minute.
program=Betrachter
{
  program_entry_settings "$program" /bin/sh "-c 'echo \$\$ >>$work/waiting; exec sleep 30' sh"
  cat <<INI

[MainForm.BoundsRect]
Left=40
Top=40
Right=900
Bottom=420
INI
  widths=(150 240 70 160 140 80)
  for i in "${!widths[@]}"; do printf '\n[MainForm.ListView1.Columns.Items[%d}]\nWidth=%d\n' "$i" "${widths[$i]}"; done
} >"$work/app/Settings.ini"

# German from the session's locale alone.
unset LANGUAGE LC_ALL LC_MESSAGES
export LANG=de_DE.UTF-8 QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
"$work/app/dorvane" "${docs[@]}" >"$work/app.log" 2>&1 &
app_pid=$!
status=0
timeout 50 /usr/bin/python3 "$here/xvfb_german.py" "$work/app/locale/de/LC_MESSAGES/dorvane.mo" "$work/app/dorvane" \
  "$program" "${docs[@]}" || status=$?
((status == 0)) || fail "exit $status; dorvane's output: $(cat "$work/app.log")"

if [[ -n "${DORVANE_SCREENSHOT_DIR:-}" ]]; then
  window=$(xdotool search --onlyvisible --name '^Dorvane$' | head -n1)
  read -r _ _ left top width height <<<"$(python3 "$here/window_geometry.py" "$window")"
  import -window root -crop "${width}x${height}+${left}+${top}" +repage "$DORVANE_SCREENSHOT_DIR/main-window-de.png" ||
    fail "no screenshot"
fi
echo "PASS"
