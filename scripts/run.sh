#!/usr/bin/env bash
# `make run` after the configure step: builds only the programs it runs, without a word of the
# build's own unless the build fails, then starts the built-in simulated instrument in the window
# when there is a display for it, and a whole update of it in the terminal otherwise.
set -euo pipefail
build=${1:-build}
log=$build/run-build.log

# The window needs Qt's X11 platform (an X server or Xwayland: DISPLAY), or a Wayland session
# with Qt's Wayland platform installed.
has_display() {
  [ -n "${DISPLAY:-}" ] && return 0
  [ -n "${WAYLAND_DISPLAY:-}" ] &&
    dpkg-query -W -f='${Status}' qt6-wayland 2>/dev/null | grep -q ' installed$'
}

targets=(vxa4410-cli)
window=
if grep -q '^VXA_BUILD_WINDOW:BOOL=ON' "$build/CMakeCache.txt" && has_display; then
  targets+=(vxa4410-loader)
  window=$build/app/window/vxa4410-loader
fi

# One line when there is something to build (the first build takes minutes), none otherwise.
if ! cmake --build "$build" --target "${targets[@]}" -- -n 2>/dev/null | grep -q '^ninja: no work to do'; then
  echo "Building ${targets[*]} (the build's output: $log)"
fi
if ! cmake --build "$build" --target "${targets[@]}" >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi

if [ -n "$window" ]; then exec "$window" -sim; fi
exec "$build/app/cli/vxa4410-cli" --sim --yes update
