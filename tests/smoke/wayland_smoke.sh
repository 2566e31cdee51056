#!/usr/bin/env bash
# Wayland smoke test: a copy of the built dorvane under weston's headless
# backend, which the weston_control module lets us watch and drive.
#  1. Started with -platform wayland (the command line beats QT_QPA_PLATFORM)
#     and documents, one of them literally "--help" after "--" and one named
#     like a Qt option: the window must be shown with the app id.
#  2. The compositor asks it to close; the question comes and is answered No:
#     the window stays.
#  3. Enter opens the documents with a recording program: it must see all
#     three, in order. Now every document succeeded, so the next close request
#     ends Dorvane without a question, with exit 0 and the settings saved.
#  4. Started again the way a Wayland session starts it (no -platform, no
#     QT_QPA_PLATFORM): the window comes up on Wayland and closes on request.
#   tests/smoke/wayland_smoke.sh path/to/dorvane path/to/weston_control.so path/to/recorder
# Exits 77 (skipped) when weston is not installed.
set -euo pipefail

here=$(dirname "$(realpath "$0")")
source "$here/smoke_common.sh"
exe=$(realpath "$1")
module=$(realpath "$2")
recorder=$(realpath "$3")
command -v weston >/dev/null || { echo "SKIP: weston is not installed (run scripts/setup)"; exit 77; }
command -v python3 >/dev/null || { echo "missing: python3 (run scripts/setup)"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/dorvane-wayland.XXXXXX")
weston_pid=""
app_pid=""
cleanup() {
  [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
  [[ -n "$weston_pid" ]] && kill "$weston_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  echo "--- dorvane:"; cat "$work/app.log" 2>/dev/null || true
  echo "--- weston:"; tail -n 20 "$work/weston.log" 2>/dev/null || true
  exit 1
}

# A private runtime directory: the compositor's socket and nothing else of ours.
export XDG_RUNTIME_DIR="$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export NO_AT_BRIDGE=1
unset DISPLAY
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

# No panel: nothing on screen but our windows on a plain background.
cat >"$work/weston.ini" <<'INI'
[core]
idle-time=0
[shell]
panel-position=none
background-color=0xff5a7a9a
startup-animation=none
animation=none
close-animation=none
focus-animation=none
[keyboard]
keymap_layout=us
INI
mkfifo "$work/control"
export WESTON_CONTROL_FIFO="$work/control" WESTON_CONTROL_ANSWER="$work/answer"
weston --backend=headless-backend.so --use-pixman --width=1024 --height=768 --socket=wayland-smoke \
  --config="$work/weston.ini" --modules="$module" --debug --log="$work/weston.log" >/dev/null 2>&1 &
weston_pid=$!
export WAYLAND_DISPLAY=wayland-smoke
wait_for 30 test -S "$XDG_RUNTIME_DIR/wayland-smoke" || fail "weston did not start"

# Sends one command to the module and prints its answer. The count lives in
# a file, as most calls run in a subshell ($(control ...), pipes).
echo 0 >"$work/sequence"
answered() { [[ -f "$work/answer" && "$(head -n1 "$work/answer")" == "$sequence" ]]; }
control() {
  local sequence=$(($(cat "$work/sequence") + 1))
  echo "$sequence" >"$work/sequence"
  echo "$sequence $*" >"$work/control"
  wait_for 20 answered || fail "weston_control did not answer: $*"
  tail -n +2 "$work/answer"
}

app_id=org.dorvane.Dorvane
# Dorvane's mapped toplevels: app id, title, x, y, width, height, activated.
dorvane_windows() { control list | awk -F'\t' -v id="$app_id" '$1 == id'; }
window_count_is() { [[ $(dorvane_windows | grep -c .) -eq $1 ]]; }
main_window_active() { [[ $(dorvane_windows | awk -F'\t' '$2 == "Dorvane" && $7 == 1' | wc -l) -eq 1 ]] && window_count_is 1; }
process_gone() { ! kill -0 "$app_pid" 2>/dev/null; }
# Asks Dorvane's only window to close; Dorvane must end at once with exit 0.
close_and_expect_exit_0() {
  [[ $(control close "$app_id") == "closed 1" ]] || fail "the close request reached no window"
  wait_for 20 process_gone || fail "dorvane did not exit: $(control list)"
  local status=0
  wait "$app_pid" || status=$?
  app_pid=""
  ((status == 0)) || fail "exit code $status"
}

KEY_ENTER=28 KEY_LEFTALT=56 KEY_D=32 KEY_N=49

# A portable copy whose settings hold a recording program, selected.
mkdir "$work/app" "$work/docs"
cp "$exe" "$work/app/dorvane"
settings="$work/app/Settings.ini"
{
  program_entry_settings Recorder "$recorder"
  cat <<INI

[MainForm.BoundsRect]
Left=600
Top=400
Right=1240
Bottom=860
INI
} >"$settings"
for d in one.txt --help -reverse; do echo "$d" >"$work/docs/$d"; done
export RECORDER_OUT="$work/records"
# Each document keeps the run going a while, so the progress dialog is surely
# seen coming and going.
export RECORDER_SLEEP_MS=500

echo "Start on Wayland with three documents"
(cd "$work/docs" && QT_QPA_PLATFORM=offscreen exec "$work/app/dorvane" -platform wayland one.txt -- --help -reverse) \
  >"$work/app.log" 2>&1 &
app_pid=$!
wait_for 30 main_window_active || fail "the window was not shown: $(control list)"
dorvane_windows | grep -q $'\tDorvane\t' || fail "no window titled Dorvane"
if [[ -n "${DORVANE_SCREENSHOT_DIR:-}" ]]; then
  (cd "$work" && weston-screenshooter >/dev/null 2>&1) && mkdir -p "$DORVANE_SCREENSHOT_DIR" &&
    mv "$work"/wayland-screenshot-*.png "$DORVANE_SCREENSHOT_DIR/wayland-main-window.png"
fi

echo "Close request: the question comes; No keeps the window"
[[ $(control close "$app_id") == "closed 1" ]] || fail "the close request reached no window"
wait_for 20 window_count_is 2 || fail "no question came up: $(control list)"
control keys $KEY_LEFTALT $KEY_N >/dev/null
wait_for 20 main_window_active || fail "the question did not go: $(control list)"
process_gone && fail "No closed Dorvane"

echo "Enter opens the three documents"
control keys $KEY_LEFTALT $KEY_D >/dev/null
control keys $KEY_ENTER >/dev/null
wait_for 20 window_count_is 2 || fail "no progress dialog came up: $(control list)"
recorded() {
  [[ -f "$RECORDER_OUT" ]] || return 1
  # A record is NUL-terminated fields: pid, directory, argc, argv..., descriptors.
  python3 - "$RECORDER_OUT" <<'PY'
import sys
fields = open(sys.argv[1], "rb").read().split(b"\0")[:-1]
documents = []
while fields:
    argc = int(fields[2])
    documents.append(fields[3 + argc - 1].decode())
    fields = fields[3 + argc + 1:]
print("\n".join(documents))
PY
}
expected=$(printf '%s\n' "$work/docs/one.txt" "$work/docs/--help" "$work/docs/-reverse")
all_recorded() { [[ "$(recorded 2>/dev/null)" == "$expected" ]]; }
wait_for 30 all_recorded || fail "the program saw: $(recorded)"
# The progress dialog has gone and the main window has the focus again.
wait_for 20 main_window_active || fail "the run did not end: $(control list)"

echo "Close request with every document in success: no question"
close_and_expect_exit_0
sections=$(grep -a '^\[' "$settings" | tr -d '\r')
expected_sections=$'[System]\n[ProgramEntries]\n[ProgramEntries.Items[0]]\n[ProgramEntriesSelection]\n[DocumentEntriesCommands.AddRegularFilesDialog]\n[MainForm.BoundsRect]'
for i in 0 1 2 3 4 5; do expected_sections+=$'\n'"[MainForm.ListView1.Columns.Items[$i}]"; done
[[ "$sections" == "$expected_sections" ]] || fail "unexpected sections:"$'\n'"$sections"
grep -aq '^DisplayName="Recorder"' "$settings" || fail "the recording program was not saved"
grep -aq '^File="'"$recorder"'"' "$settings" || fail "the recording program's file was not saved"
# Wayland hides where the window is: the position saved before stays.
grep -aq '^Left=600' "$settings" && grep -aq '^Top=400' "$settings" ||
  fail "the saved position was lost: $(grep -a -A4 'BoundsRect' "$settings")"

echo "Start as a Wayland session starts it"
(unset QT_QPA_PLATFORM && XDG_SESSION_TYPE=wayland exec "$work/app/dorvane") >"$work/app.log" 2>&1 &
app_pid=$!
wait_for 30 main_window_active || fail "the window was not shown on Wayland: $(control list)"
close_and_expect_exit_0

echo "PASS"
