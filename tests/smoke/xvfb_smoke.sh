#!/usr/bin/env bash
# Real-window smoke test: a copy of the built dorvane on its own X server
# under a window manager (openbox), started with three documents and no
# settings. The window manager places it with its title bar on the screen;
# the rows are probed through the clipboard, the window is closed as a window
# manager would close it, the question is answered Yes, and the settings must
# be saved, the bounds where the window really was. Then a start with a broken
# Settings.ini must show one error box, never the window, and exit 0. Last,
# a copy in an installed layout (bin/ beside share/dorvane/Help/) must open
# that help on F1. With DORVANE_SCREENSHOT_DIR set, the first start is saved
# there as a picture.
#   tests/smoke/xvfb_smoke.sh path/to/dorvane
set -euo pipefail

exe=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
for tool in Xvfb dbus-daemon openbox xdotool xclip python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (run scripts/setup)"; exit 1; }
done

source "$here/xvfb_common.sh" smoke

start_xvfb
start_session_bus
export QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1

start_openbox

# A portable copy: its directory is writable, so Settings.ini lands beside it.
mkdir "$work/app" "$work/docs"
cp "$exe" "$work/app/dorvane"
settings="$work/app/Settings.ini"
docs=("$work/docs/one.txt" "$work/docs/two words.txt" "$work/docs/three.txt")
for d in "${docs[@]}"; do echo "$d" >"$d"; done

# Windows named exactly Dorvane: the main window and Dorvane's message boxes.
dorvane_windows() { xdotool search --onlyvisible --name '^Dorvane$' 2>/dev/null || true; }
one_window() { [[ $(dorvane_windows | wc -l) -eq 1 ]]; }
other_window() { dorvane_windows | grep -vx "$1" | head -n1; }
has_other_window() { [[ -n $(other_window "$1") ]]; }
process_gone() { ! kill -0 "$app_pid" 2>/dev/null; }
# Waits for dorvane to end (else fails with $1) and checks that it exited 0.
expect_exit_0() {
  wait_for 20 process_gone || fail "$1"
  local status=0
  wait "$app_pid" || status=$?
  app_pid=""
  ((status == 0)) || fail "exit code $status: $(cat "$work/app.log")"
}

# Exactly the three paths, each line ended by CR LF.
expected=$(printf '%s\r\n' "${docs[@]}" | od -An -c)
clipboard_holds_rows() {
  xdotool key --clearmodifiers ctrl+a ctrl+c
  [[ "$(xclip -selection clipboard -o 2>/dev/null | od -An -c)" == "$expected" ]]
}

# "client_left client_top frame_left frame_top frame_width frame_height" of a window.
geometry() { python3 "$here/window_geometry.py" "$1"; }
# The window manager has put its frame, title bar above the client, around it.
framed() {
  local g
  read -r -a g <<<"$(geometry "$1")"
  ((g[3] < g[1]))
}

echo "First start with three documents: the window manager places the window"
"$work/app/dorvane" "${docs[@]}" >"$work/app.log" 2>&1 &
app_pid=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Dorvane$' | head -n1) || fail "no window"
wait_for 20 framed "$window" || fail "the window manager put no frame around the window: $(geometry "$window")"
read -r client_left client_top frame_left frame_top frame_width frame_height <<<"$(geometry "$window")"
((frame_left >= 0 && frame_top >= 0 && frame_left + frame_width <= 1280 && frame_top + frame_height <= 1024)) ||
  fail "the window is not wholly on the screen: frame ${frame_width}x${frame_height}+${frame_left}+${frame_top}"
xdotool windowfocus --sync "$window"
# Alt+D is the accelerator of "Documents:", which focuses the list.
xdotool key --clearmodifiers alt+d
wait_for 20 clipboard_holds_rows ||
  fail "the clipboard does not hold the three rows: $(xclip -selection clipboard -o 2>/dev/null | od -c | head)"
if [[ -n "${DORVANE_SCREENSHOT_DIR:-}" ]]; then
  command -v import >/dev/null || fail "missing: import (run scripts/setup)"
  # The window as the window manager framed it, title bar included.
  import -window root -crop "${frame_width}x${frame_height}+${frame_left}+${frame_top}" +repage \
    "$DORVANE_SCREENSHOT_DIR/first-start-window-manager.png" || fail "no screenshot"
fi

echo "Close as a window manager does, and answer Yes"
python3 "$here/wm_delete_window.py" "$window"
wait_for 20 has_other_window "$window" || fail "no question came up"
box=$(other_window "$window")
xdotool windowfocus --sync "$box"
xdotool key --clearmodifiers alt+y
expect_exit_0 "dorvane did not exit after Yes"

[[ -f "$settings" ]] || fail "Settings.ini was not written"
sections=$(grep -a '^\[' "$settings" | tr -d '\r')
expected_sections=$'[System]\n[ProgramEntries]\n[ProgramEntries.Items[0]]\n[ProgramEntriesSelection]\n[DocumentEntriesCommands.AddRegularFilesDialog]\n[MainForm.BoundsRect]'
for i in 0 1 2 3 4 5; do expected_sections+=$'\n'"[MainForm.ListView1.Columns.Items[$i}]"; done
[[ "$sections" == "$expected_sections" ]] || fail "unexpected sections:"$'\n'"$sections"
grep -aq "^CurrentDirectory=\".*\"$(printf '\r')\$" "$settings" || fail "no quoted current directory"
# Saved where the window was, not where it would have been without a window manager.
saved_left=$(grep -a '^Left=' "$settings" | tr -d '\r')
saved_top=$(grep -a '^Top=' "$settings" | tr -d '\r')
[[ "$saved_left $saved_top" == "Left=$client_left Top=$client_top" ]] ||
  fail "saved $saved_left $saved_top, but the window was at $client_left,$client_top"

echo "A first start with a missing document: the error box comes up over the window"
# Without settings Qt learns where the window is only from the window manager.
rm "$settings"
"$work/app/dorvane" "$work/docs/missing.txt" >"$work/app.log" 2>&1 &
app_pid=$!
two_windows() { [[ $(dorvane_windows | wc -l) -eq 2 ]]; }
wait_for 30 two_windows || fail "no window with an error box: $(dorvane_windows)"
area() { read -r _ _ _ _ w h <<<"$(geometry "$1")" && echo $((w * h)); }
read -r first second <<<"$(dorvane_windows | tr '\n' ' ')"
if (($(area "$first") > $(area "$second"))); then window=$first box=$second; else window=$second box=$first; fi
wait_for 20 framed "$box" || fail "the window manager put no frame around the box"
read -r _ _ window_left window_top window_width window_height <<<"$(geometry "$window")"
read -r _ _ box_left box_top box_width box_height <<<"$(geometry "$box")"
box_x=$((box_left + box_width / 2)) box_y=$((box_top + box_height / 2))
((box_x > window_left && box_x < window_left + window_width && box_y > window_top &&
  box_y < window_top + window_height)) ||
  fail "the box at ${box_width}x${box_height}+${box_left}+${box_top} is not over the window at ${window_width}x${window_height}+${window_left}+${window_top}"
xdotool windowfocus --sync "$box"
xdotool key --clearmodifiers Return
wait_for 20 one_window || fail "the error box did not go"
python3 "$here/wm_delete_window.py" "$window"
expect_exit_0 "dorvane did not exit"

echo "Start with a broken Settings.ini"
printf '[System]\r\nCurrentDirectory=/tmp\r\n' >"$settings"
"$work/app/dorvane" >"$work/app.log" 2>&1 &
app_pid=$!
box=$(timeout 30 xdotool search --sync --onlyvisible --name '^Dorvane$' | head -n1) || fail "no error box"
# The box is the only window: the main window never shows.
one_window || fail "more than the error box came up"
xdotool windowfocus --sync "$box"
xdotool key --clearmodifiers Return
expect_exit_0 "dorvane did not exit after the error box"
[[ "$(cat "$settings")" == "$(printf '[System]\r\nCurrentDirectory=/tmp\r\n')" ]] || fail "a failed start wrote Settings.ini"

echo "Installed layout: F1 opens share/dorvane/Help/index.html"
prefix="$work/prefix"
mkdir -p "$prefix/bin" "$prefix/share/dorvane" "$XDG_DATA_HOME/applications" "$XDG_CONFIG_HOME"
cp "$exe" "$prefix/bin/dorvane"
cp -r "$here/../../app/Help" "$prefix/share/dorvane/"
# HTML opens with a recorder that writes down the file it was given.
opened="$work/opened"
cat >"$work/record.sh" <<RECORD
#!/bin/sh
printf '%s' "\$1" >"$opened.part" && mv "$opened.part" "$opened"
RECORD
chmod +x "$work/record.sh"
printf '[Desktop Entry]\nType=Application\nName=Recorder\nExec=%s %%f\nMimeType=text/html;\n' "$work/record.sh" \
  >"$XDG_DATA_HOME/applications/dorvane-recorder.desktop"
printf '[Default Applications]\ntext/html=dorvane-recorder.desktop\n' >"$XDG_CONFIG_HOME/mimeapps.list"
"$prefix/bin/dorvane" >"$work/app.log" 2>&1 &
app_pid=$!
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Dorvane$' | head -n1) || fail "no window"
xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers F1
wait_for 20 has_other_window "$window" || fail "F1 asked nothing"
box=$(other_window "$window")
xdotool windowfocus --sync "$box"
xdotool key --clearmodifiers alt+y
wait_for 20 test -f "$opened" || fail "the help was not opened: $(cat "$work/app.log")"
[[ "$(cat "$opened")" == "$prefix/share/dorvane/Help/index.html" ]] || fail "opened $(cat "$opened")"
# An empty list closes without a question.
python3 "$here/wm_delete_window.py" "$window"
expect_exit_0 "dorvane did not exit"

echo "PASS"
