#!/usr/bin/env bash
# --help and --version of the built dorvane: answered without any display,
# exit 0, nothing on standard error; a failed write is exit 1, not success.
#   tests/smoke/cli_smoke.sh path/to/dorvane
set -euo pipefail

exe=$(realpath "$1")
fail() {
  echo "FAIL: $*"
  exit 1
}
# No window system at all: a start of the GUI would abort.
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$exe" "$@"; }

out=$(run --help 2>&1) || fail "--help exited $?"
[[ "$out" == "Usage: dorvane "* ]] || fail "--help printed: $out"
# The settings file this copy uses: beside it, as its directory is writable.
grep -qxF "  $(dirname "$exe")/Settings.ini" <<<"$out" || fail "--help does not name $(dirname "$exe")/Settings.ini"

# Qt's options before ours do not stop it.
out=$(run -platform xcb --version 2>&1) || fail "--version exited $?"
[[ "$out" =~ ^Dorvane\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "--version printed: $out"

status=0
err=$(run --version 2>&1 >/dev/full) || status=$?
((status == 1)) || fail "a failed write exited $status"
[[ "$err" == "dorvane: cannot write to standard output: "* ]] || fail "a failed write said: $err"

# GIO comes in on its first use, not with the program: its loading was a
# good part of the time to the first window.
if LD_DEBUG=libs run --version 2>&1 >/dev/null | grep -q "find library=libgio"; then
  fail "GIO is loaded at start"
fi
echo "PASS"
