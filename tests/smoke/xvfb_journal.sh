#!/usr/bin/env bash
# The document journal with the built dorvane in real windows on its own X
# server, opening documents with the recorder helper:
#  1. a run killed with SIGKILL at random moments (KILLS times, some of them
#     while the lost list is being restored), restored each time: the
#     journal's successes are what the recorder saw opened, but for at most
#     the document in progress; at the end every document was opened, and
#     none twice unless it was in progress at a kill;
#  2. SIGTERM in the middle of a run: the run is cancelled, the settings are
#     saved, the journal is kept with exactly what was opened, exit code 0;
#     the next start goes on where the run stopped;
#  3. two instances at once: each has its own locked journal; when one is
#     killed a new start offers only that one's list.
#   tests/smoke/xvfb_journal.sh path/to/dorvane path/to/recorder [KILLS]
set -euo pipefail

exe=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
kills=${3:-22}
for tool in Xvfb dbus-daemon xdotool xclip python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (run scripts/setup)"; exit 1; }
done

source "$here/xvfb_common.sh" journal
pids=()
# Every instance started goes too; the killed ones' children end by themselves.
cleanup() {
  for p in "${pids[@]}" $app_pid; do kill -9 "$p" 2>/dev/null || true; done
  [[ -n "$bus_pid" ]] && kill "$bus_pid" 2>/dev/null || true
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# The end of dorvane's output tells what went wrong.
fail() {
  echo "FAIL: $*"
  [[ -f "$work/app.log" ]] && tail -5 "$work/app.log"
  kill -0 "$xvfb_pid" 2>/dev/null || echo "Xvfb has gone: $(tail -5 "$work/xvfb.log")"
  exit 1
}
start_xvfb
start_session_bus
export QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1

# A portable copy (its journal and settings beside it), and the recorder under
# a path of this run's own.
mkdir -p "$work/app" "$work/bin" "$work/docs"
cp "$exe" "$work/app/dorvane"
cp "$(realpath "$2")" "$work/bin/recorder"
app="$work/app"
export RECORDER_OUT="$work/opened"
allowed="$work/allowed"
check() { python3 "$here/journal_check.py" "$@"; }

write_settings() {
  program_entry_settings Recorder "$work/bin/recorder" >"$app/Settings.ini"
}

make_docs() { # DIR COUNT
  mkdir -p "$1"
  for ((i = 0; i < $2; ++i)); do printf 'x' >"$(printf '%s/doc %03d.txt' "$1" "$i")"; done
}

windows_of() { xdotool search --all --onlyvisible --pid "$1" --name '^Dorvane$' 2>/dev/null || true; }
window_count() { [[ $(windows_of "$1" | wc -l) -eq "$2" ]]; }
progress_shown() { xdotool search --all --onlyvisible --pid "$1" --name '^Open$' >/dev/null 2>&1; }
gone() { ! kill -0 "$1" 2>/dev/null; }
# Dorvane runs in a process group of its own, which its children share even
# before they have become the recorder.
recorders_done() { ! pgrep -g "$app_pid" >/dev/null; }
opened_count() { check opened "$RECORDER_OUT"; }
opened_at_least() { (($(opened_count) >= $1)); }
journals_are() { (($(check count "$app") == $1)); }
complete() { check complete "$1" "$RECORDER_OUT" "$2" >/dev/null; }
run_over() { ! xdotool search --all --onlyvisible --pid "$1" --name '^Open$' >/dev/null 2>&1; }

window_or_exit() { has_window "$app_pid" || gone "$app_pid"; }
# Starts dorvane and waits for its window. A start that could not reach the X
# server (it happens on a loaded machine) is tried again.
start() { # ARGS...
  for attempt in 1 2 3; do
    : >"$work/start.log"
    setsid "$app/dorvane" "$@" >"$work/start.log" 2>&1 &
    app_pid=$!
    wait_for 60 window_or_exit || fail "no window"
    cat "$work/start.log" >>"$work/app.log"
    if gone "$app_pid" && grep -q 'Could not load the Qt platform plugin' "$work/start.log"; then
      echo "(the X server could not be reached; starting again)"
      continue
    fi
    return 0
  done
  fail "dorvane could not reach the X server"
}

has_window() { [[ -n $(windows_of "$1") ]]; }
# The main window is made before any box, so its window id is the lowest.
main_window() { wait_for 30 has_window "$1" || return 1; windows_of "$1" | sort -n | head -n1; }
newest_window() { windows_of "$1" | sort -n | tail -n1; }

# Answers every box of the process with Yes, or OK where there is no Yes,
# until only its main window is left.
answer_boxes() { # PID MAIN_WINDOW
  local box
  while true; do
    box=$(windows_of "$1" | grep -vx "$2" | head -n1)
    [[ -z "$box" ]] && return 0
    xdotool windowfocus --sync "$box" 2>/dev/null || true
    xdotool key --clearmodifiers alt+y
    if ! wait_for 1 bash -c "! xdotool search --all --onlyvisible --pid $1 --name '^Dorvane\$' | grep -qx $box"; then
      xdotool key --clearmodifiers Return
      wait_for 5 bash -c "! xdotool search --all --onlyvisible --pid $1 --name '^Dorvane\$' | grep -qx $box" || return 1
    fi
  done
}

# Starts a restoring instance and answers its question: the list comes back.
# Sets app_pid and window.
restart_and_restore() {
  start
  window=$(main_window "$app_pid") || fail "no window after a restart"
  wait_for 20 window_count "$app_pid" 2 || fail "no restore question"
  answer_boxes "$app_pid" "$window" || fail "a box did not go"
}

open_run() { # WINDOW
  xdotool windowfocus --sync "$1"
  xdotool key --clearmodifiers Return
}

echo "$(date +%T) 1. Killed at random moments, $kills times"
make_docs "$work/docs" 250
write_settings
export RECORDER_SLEEP_MS=40
docs=("$work/docs"/*)
start "${docs[@]}"
window=$(main_window "$app_pid") || fail "no window"
wait_for 20 journals_are 1 || fail "no journal for the command line's documents"
RANDOM=$$
for ((kill_no = 1; kill_no <= kills; ++kill_no)); do
  # A third of the kills come while the list is being restored, the rest
  # during the run.
  if ((kill_no > 1 && RANDOM % 3 == 0)); then
    start
    main_window "$app_pid" >/dev/null || fail "no window after a restart"
    wait_for 20 window_count "$app_pid" 2 || fail "no restore question"
    box=$(newest_window "$app_pid")
    xdotool windowfocus --sync "$box" 2>/dev/null || true
    xdotool key --clearmodifiers alt+y
    sleep "0.0$((RANDOM % 10))"
  else
    if ((kill_no > 1)); then restart_and_restore; fi
    open_run "$window"
    wait_for 20 progress_shown "$app_pid" || fail "the run did not start"
    sleep "0.$((RANDOM % 6 + 1))"
  fi
  kill -9 "$app_pid"
  wait "$app_pid" 2>/dev/null || true
  wait_for 20 recorders_done || fail "recorders still running"
  check killed "$app" "$RECORDER_OUT" "$allowed" || exit 1
done
restart_and_restore
open_run "$window"
wait_for 120 complete "$work/docs" "$allowed" || check complete "$work/docs" "$RECORDER_OUT" "$allowed" || exit 1
wait_for 30 run_over "$app_pid" || fail "the run did not end"
check complete "$work/docs" "$RECORDER_OUT" "$allowed"
# Every document succeeded: the close asks nothing and takes the journal along.
python3 "$here/wm_delete_window.py" "$window"
wait_for 20 gone "$app_pid" || fail "dorvane did not exit"
status=0
wait "$app_pid" || status=$?
((status == 0)) || fail "exit code $status"
[[ $(check count "$app") -eq 0 ]] || fail "a normal close left the journal"

echo "$(date +%T) 2. SIGTERM in the middle of a run"
rm -f "$RECORDER_OUT" "$app/Settings.ini"
write_settings
export RECORDER_SLEEP_MS=150
make_docs "$work/term" 15
docs=("$work/term"/*)
start "${docs[@]}"
window=$(main_window "$app_pid") || fail "no window"
wait_for 20 journals_are 1 || fail "no journal"
open_run "$window"
wait_for 30 opened_at_least 3 || fail "the run did not get going"
kill -TERM "$app_pid"
wait_for 20 gone "$app_pid" || fail "SIGTERM did not end dorvane"
status=0
wait "$app_pid" || status=$?
((status == 0)) || fail "exit code $status after SIGTERM"
wait_for 20 recorders_done || fail "recorders still running"
grep -aq '^\[MainForm.BoundsRect\]' "$app/Settings.ini" || fail "the settings were not saved"
check exact "$app" "$RECORDER_OUT" || exit 1
[[ $(opened_count) -lt 15 ]] || fail "the run was not cancelled"
restart_and_restore
open_run "$window"
wait_for 60 complete "$work/term" /dev/null || check complete "$work/term" "$RECORDER_OUT" /dev/null || exit 1
wait_for 30 run_over "$app_pid" || fail "the run did not end"
python3 "$here/wm_delete_window.py" "$window"
wait_for 20 gone "$app_pid" || fail "dorvane did not exit"
[[ $(check count "$app") -eq 0 ]] || fail "a normal close left the journal"

echo "$(date +%T) 3. Two instances at once"
make_docs "$work/first" 3
make_docs "$work/second" 2
start "$work/first"/*
first=$app_pid
pids+=("$first")
main_window "$first" >/dev/null || fail "no first window"
start "$work/second"/*
second=$app_pid
pids+=("$second")
second_window=$(main_window "$second") || fail "no second window"
wait_for 20 journals_are 2 || fail "not one journal each"
for j in "$app"/Journal-*.journal; do check locked "$j" || fail "$j is not locked"; done
kill -9 "$first"
wait "$first" 2>/dev/null || true
start
third=$app_pid
pids+=("$third")
third_window=$(main_window "$third") || fail "no third window"
wait_for 20 window_count "$third" 2 || fail "no restore question"
answer_boxes "$third" "$third_window" || fail "a box did not go"
expected=$(printf '%s\r\n' "$work/first"/* | od -An -c)
rows() {
  xdotool windowfocus --sync "$third_window"
  xdotool key --clearmodifiers alt+d ctrl+a ctrl+c
  [[ "$(xclip -selection clipboard -o 2>/dev/null | od -An -c)" == "$expected" ]]
}
wait_for 20 rows || fail "the killed instance's list did not come back: $(xclip -selection clipboard -o 2>/dev/null | head -3)"
[[ $(check count "$app") -eq 2 ]] || fail "the live instance's journal was touched"
for window in "$second_window" "$third_window"; do
  python3 "$here/wm_delete_window.py" "$window"
done
for p in "$second" "$third"; do
  wait_for 20 window_count "$p" 2 || fail "no close question"
  answer_boxes "$p" "$(main_window "$p")" || true
  wait_for 20 gone "$p" || fail "an instance did not exit"
done
[[ $(check count "$app") -eq 0 ]] || fail "normal closes left journals"

echo "PASS"
