#!/usr/bin/env bash
# The main job of `make run`: a whole update of the built-in simulated instrument, in the window
# when there is a display and in the terminal otherwise.
set -euo pipefail
build=${1:-build}
if { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; } && [ -x "$build/app/window/vxa4410-loader" ]; then
  exec "$build/app/window/vxa4410-loader" -sim
fi
exec "$build/app/cli/vxa4410-cli" --sim --yes update
