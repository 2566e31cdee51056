#!/usr/bin/env bash
# Runs a test program on an X server of its own under a window manager
# (openbox), for tests that need real top-level windows managed as on a desktop.
#   tests/smoke/xvfb_gtest.sh path/to/test_program [arguments...]
set -euo pipefail

here=$(dirname "$(realpath "$0")")
for tool in Xvfb openbox xdotool; do
  command -v "$tool" >/dev/null || { echo "missing: $tool (run scripts/setup)"; exit 1; }
done

source "$here/xvfb_common.sh" gtest
start_xvfb
start_openbox
"$@"
