#!/usr/bin/env bash
# Time to the first window: from the exec to a window mapped and painted on
# an Xvfb server of its own, for dorvane against a Qt Widgets program that
# only shows a titled window (minimal_window), in interleaved runs; the median
# of each and their ratio, without a session bus and then with one. A second
# peer, the same window with one label (minimal_window --text), shows what
# of the difference is the toolkit's fonts, which any window with text loads.
#   bench/first_window.sh [BUILD_DIR [RUNS]]
# BUILD_DIR is a Release tree (default build-release):
#   cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DDORVANE_TESTS=OFF
#   cmake --build build-release -j2
set -euo pipefail

here=$(dirname "$(realpath "$0")")
build=$(realpath "${1:-$here/../build-release}")
runs=${2:-15}

if [[ "${DORVANE_FIRST_WINDOW_STAGE:-}" != run ]]; then
  for file in dorvane bench/minimal_window bench/first_window; do
    [[ -x "$build/$file" ]] || { echo "missing: $build/$file (build the Release tree first)"; exit 1; }
  done
  for tool in Xvfb dbus-run-session; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (run scripts/setup)"; exit 1; }
  done
  work=$(mktemp -d "${TMPDIR:-/tmp}/dorvane-first-window.XXXXXX")
  xvfb_pid=""
  trap '[[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null; rm -rf "$work"' EXIT
  # A black root and no window manager: a window is painted once its centre
  # is no longer black.
  mkfifo "$work/displayfd"
  Xvfb -displayfd 3 -br -screen 0 1280x1024x24 -nolisten tcp 3>"$work/displayfd" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  read -r -t 30 display <"$work/displayfd" || { echo "Xvfb did not start: $(cat "$work/xvfb.log")"; exit 1; }
  export DISPLAY=":$display" QT_QPA_PLATFORM=xcb DORVANE_FIRST_WINDOW_STAGE=run
  export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
  export XDG_RUNTIME_DIR="$work/runtime"
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$work/app" && chmod 700 "$XDG_RUNTIME_DIR"
  # Beside its own settings and journal, as an unpacked copy runs.
  cp "$build/dorvane" "$work/app/dorvane"
  cp -r "$build/Help" "$work/app/" 2>/dev/null || true
  export DORVANE_APP="$work/app/dorvane"
  echo "Without a session bus:"
  env -u DBUS_SESSION_BUS_ADDRESS bash "$0" "$build" "$runs"
  echo "With a session bus:"
  dbus-run-session -- bash "$0" "$build" "$runs" 2>/dev/null
  exit 0
fi

median() {
  sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

watch="$build/bench/first_window"
out="${TMPDIR:-/tmp}/first-window-$$"
: >"$out.dorvane"
: >"$out.minimal"
: >"$out.text"
# One unmeasured start of each fills the disk cache.
"$watch" Dorvane "$DORVANE_APP" >/dev/null
"$watch" Minimal "$build/bench/minimal_window" >/dev/null
"$watch" Minimal "$build/bench/minimal_window" --text >/dev/null
for ((i = 0; i < runs; ++i)); do
  "$watch" Dorvane "$DORVANE_APP" >>"$out.dorvane"
  "$watch" Minimal "$build/bench/minimal_window" >>"$out.minimal"
  "$watch" Minimal "$build/bench/minimal_window" --text >>"$out.text"
done
dorvane=$(median <"$out.dorvane")
minimal=$(median <"$out.minimal")
text=$(median <"$out.text")
rm -f "$out".*
awk -v d="$dorvane" -v m="$minimal" -v t="$text" -v n="$runs" 'BEGIN {
  printf "  dorvane %.1f ms, minimal Qt window %.1f ms (medians of %d): %.2fx\n", d, m, n, d / m
  printf "  the minimal window with one label %.1f ms: dorvane %.2fx\n", t, d / t }'
