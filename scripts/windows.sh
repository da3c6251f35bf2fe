#!/usr/bin/env bash
# The Windows stage under Wine: cross-build with mingw-w64, check the programs' hardening, run the
# portable suite and the window's tests on a virtual display (keeping the window's screenshots),
# update the simulated instrument through a COM port and through the vendor's library (our
# stand-in), build the zip archive and the installer and use each as a user would, then the
# 32-bit build: compiled, its stand-in library's exports checked, and run where this machine runs
# 32-bit programs.
#   scripts/windows.sh LINUX_BUILD WIN_BUILD WIN32_BUILD
# LINUX_BUILD holds vxa4410-sim (the instrument on a pseudo-terminal that Wine maps to a COM port).
# Every step is judged by its exit status and by the files it must leave: a 32-bit program under
# a Wine without its 32-bit half runs as nothing at all and exits 0.
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=$(realpath -m "${1:-build}")
win_build=$(realpath -m "${2:-build-win}")
win32_build=$(realpath -m "${3:-build-win32}")

started=$SECONDS
run=$(mktemp -d)
sim_pid=
display_pid=
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)

say() { echo "== windows: $* ($((SECONDS - started)) s)"; }
fail() {
  echo "windows: $*" >&2
  exit 1
}

cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$display_pid" ]; then kill "$display_pid" 2>/dev/null || true; fi
  rm -rf "$run"
}
trap cleanup EXIT

# step NAME COMMAND...: runs the command with its output in $run/NAME.out and $run/NAME.err; when
# it fails, shows both and the files named in $STEP_LOGS, and ends the stage.
step() {
  local name=$1 status=0
  shift
  "$@" >"$run/$name.out" 2>"$run/$name.err" || status=$?
  if [ $status -ne 0 ]; then
    echo "windows: $name failed with exit status $status:" >&2
    # shellcheck disable=SC2086
    tail -n 60 "$run/$name.out" "$run/$name.err" ${STEP_LOGS:-} >&2 || true
    exit 1
  fi
}

# expect_files FILE...: each must be there and not empty.
expect_files() {
  local file
  for file in "$@"; do
    [ -s "$file" ] || fail "$file is missing or empty"
  done
}

# A prefix of our own, and one wineserver for the whole run: without it every program started
# pays for starting the server anew. Its stderr goes to a file: it takes the pty of the COM port
# as its controlling terminal and floods its output when the simulator closes it. Windows draw
# inside Wine's own desktop, frames and captions included, so that a screenshot shows them.
prepare_wine() {
  export WINEPREFIX="$win_build/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  wineserver -p >"$win_build/wineserver.log" 2>&1
  step wineboot "$wine64" wineboot -i
  step desktop "$wine64" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
  step desktop-size "$wine64" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default \
    /d 1024x768 /f
}

# A virtual display for the window, on the first free display number.
start_display() {
  local number
  for number in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ] || break
  done
  Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp >"$run/xvfb.log" 2>&1 &
  display_pid=$!
  for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X$number" ] && break
    sleep 0.1
  done
  if [ ! -e "/tmp/.X11-unix/X$number" ]; then
    cat "$run/xvfb.log" >&2
    fail "Xvfb did not start"
  fi
  export DISPLAY=":$number"
}

# Release: no debug information to write and link for two targets' worth of programs; ccache
# where the machine has it.
configure() {  # BUILD TOOLCHAIN [CMAKE ARGUMENTS...]
  local build=$1 toolchain=$2
  shift 2
  local flags=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain")
  if command -v ccache >/dev/null; then flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
  step "configure-$(basename "$build")" cmake -S . -B "$build" "${flags[@]}" "$@"
}

# Each program with ASLR (high-entropy on x86-64), DEP and the stack protector.
check_hardening() {  # OBJDUMP WANTED_FLAGS PROGRAM...
  local objdump=$1 wanted=$2 program flag
  shift 2
  for program in "$@"; do
    "$objdump" -p "$program" >"$run/pe.txt"
    for flag in $wanted; do
      grep -qw "$flag" "$run/pe.txt" || fail "$(basename "$program") lacks $flag"
    done
    grep -q __stack_chk_fail < <("$objdump" -t "$program") ||
      fail "$(basename "$program") is built without the stack protector"
    echo "$(basename "$program"): $(awk '/^DllCharacteristics/ {print $2}' "$run/pe.txt") $wanted"
  done
}

# The Linux simulator on a pseudo-terminal, as COM5 of the prefix; --once: it ends by itself
# when the program has closed the port for good.
start_simulator() {
  local sim="$linux_build/sim/vxa4410-sim" pty
  [ -x "$sim" ] || fail "no $sim: build the Linux programs first (make build)"
  "$sim" --once >"$run/sim.out" 2>"$run/sim.err" &
  sim_pid=$!
  for _ in $(seq 100); do
    [ -s "$run/sim.out" ] && break
    sleep 0.1
  done
  pty=$(head -n1 "$run/sim.out")
  case "$pty" in /dev/*) ;; *) fail "vxa4410-sim printed no port: $pty" ;; esac
  ln -sfn "$pty" "$WINEPREFIX/dosdevices/com5"
}

stop_simulator() {
  timeout 30 tail --pid="$sim_pid" -f /dev/null || kill "$sim_pid" 2>/dev/null || true
  sim_pid=
}

# update NAME FOLDER WINE PROGRAM ARGUMENTS...: an update in FOLDER with the exchange log on; it
# succeeded when the program said so with exit 0, printed its lines and wrote its log, whose
# write blocks are counted. The log is the Linux program's, line for line: no CR anywhere.
update() {
  local name=$1 folder=$2
  shift 2
  rm -f "$folder/log_file.txt"
  (cd "$folder" && step "$name" timeout 300 "$@" --lang en --log --yes update)
  expect_files "$run/$name.out" "$folder/log_file.txt"
  if grep -q $'\r' "$folder/log_file.txt"; then fail "$name: log_file.txt has CR line ends"; fi
  echo "$name: $(grep -c "CMD(0x34)" "$folder/log_file.txt") write blocks in the log"
}

build_x86_64() {
  say "cross-building for Windows x86-64"
  configure "$win_build" cmake/toolchains/mingw-w64-x86_64.cmake
  step build-win cmake --build "$win_build"
  step installer cmake --build "$win_build" --target installer
  check_hardening x86_64-w64-mingw32-objdump "DYNAMIC_BASE NX_COMPAT HIGH_ENTROPY_VA" \
    "$win_build/app/cli/vxa4410-cli.exe" "$win_build/app/win32/vxa4410-loader.exe"
}

# The suite, the window's among it: in the test's process and, once, the program itself driven
# from another; the window's screenshots stay in WIN_BUILD/screenshots.
portable_suite() {
  say "portable suite and the window's tests under Wine"
  local shots="$win_build/screenshots"
  rm -rf "$shots"
  mkdir -p "$shots"
  VXA_SCREENSHOTS=$("$wine64" winepath -w "$shots" 2>/dev/null) \
    VXA_LOADER_EXE=$("$wine64" winepath -w "$win_build/app/win32/vxa4410-loader.exe" 2>/dev/null) \
    step suite ctest --test-dir "$win_build" --output-on-failure -j2
  tail -n 3 "$run/suite.out"
  expect_files "$shots"/{1-start,2-found,3-confirmation,7-success,8-english}.png
  echo "screenshots: $(cd "$shots" && echo *.png)"
}

updates_over_the_backends() {
  local exe="$win_build/app/cli/vxa4410-cli.exe"
  say "update over COM5 against vxa4410-sim on a pty (slow)"
  start_simulator
  STEP_LOGS="$run/sim.err" update com "$run" "$wine64" "$exe" --port COM5
  stop_simulator
  say "update through the vendor's library (the stand-in DLL beside the program)"
  cp "$exe" "$win_build/tests/drivers/ftd2xx.dll" "$run/"
  update d2xx "$run" "$wine64" ./vxa4410-cli.exe --driver d2xx
}

# Notepad before Windows 10 shows a file without CR as one line.
zip_archive() {
  say "the zip archive, unpacked and run as a user would"
  (cd "$win_build" && step cpack cpack)
  local archive unpacked
  archive=$(ls "$win_build"/vxa4410-loader-*-win64.zip)
  mkdir "$run/zip"
  (cd "$run/zip" && cmake -E tar xf "$archive")
  unpacked=$(echo "$run"/zip/vxa4410-loader-*-win64)
  expect_files "$unpacked"/{vxa4410-loader.exe,vxa4410-cli.exe,README.txt} \
    "$unpacked"/licenses/{gcc-runtime.txt,GPL-3.txt,mingw-w64-runtime.txt}
  if grep -qv $'\r$' "$unpacked/README.txt"; then fail "README.txt has a line without CR"; fi
  update zip "$unpacked" "$wine64" ./vxa4410-cli.exe --sim --fast
  (cd "$unpacked" && step zip-window "$wine64" ./vxa4410-loader.exe --version)
  expect_files "$run/zip-window.out"
  echo "$(basename "$archive"): $(cd "$unpacked" && find . -type f | sort | tr '\n' ' ')"
}

# Silently installed, the installed terminal program updates the simulated instrument, the
# shortcuts and the uninstall entry are there; silently uninstalled, nothing is left.
installer() {
  say "the installer, silently installed and uninstalled"
  local setup folder menu key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VXA4410Loader'
  setup=$(ls "$win_build"/vxa4410-loader-*-setup.exe)
  folder="$WINEPREFIX/drive_c/Program Files/VXA-4410 Loader"
  menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/VXA-4410"
  step install "$wine64" "$setup" /S
  expect_files "$folder"/{vxa4410-loader.exe,vxa4410-cli.exe,README.txt,uninstall.exe} \
    "$folder"/licenses/GPL-3.txt "$menu"/*.lnk
  [ "$(ls "$menu"/*.lnk | wc -l)" -eq 2 ] || fail "the Start menu lacks the window or the uninstaller"
  step uninstall-entry "$wine64" reg query "$key"
  for value in DisplayName DisplayVersion Publisher EstimatedSize UninstallString; do
    grep -q "$value" "$run/uninstall-entry.out" || fail "the uninstall entry lacks $value"
  done
  mkdir "$run/installed"
  update installed "$run/installed" "$wine64" "C:\\Program Files\\VXA-4410 Loader\\vxa4410-cli.exe" \
    --sim --fast
  # The uninstaller runs from a copy of itself, which goes on after the first one has ended.
  step uninstall "$wine64" "C:\\Program Files\\VXA-4410 Loader\\uninstall.exe" /S
  for _ in $(seq 60); do
    [ -e "$folder" ] || [ -e "$menu" ] || break
    sleep 0.5
  done
  [ ! -e "$folder" ] && [ ! -e "$menu" ] || fail "the uninstaller left $folder or $menu"
  if "$wine64" reg query "$key" >/dev/null 2>&1; then fail "the uninstall entry is still there"; fi
  echo "$(basename "$setup"): installed, used and uninstalled"
}

# The vendor's DLL exports bare names; __stdcall would decorate them (FT_Open@8).
check_standin_exports() {
  local exports
  exports=$(i686-w64-mingw32-objdump -p "$win32_build/tests/drivers/ftd2xx.dll" |
    awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && NF == 0 {on = 0} on {print $NF}')
  echo "$exports" | tr '\n' ' '
  echo
  if [ "$(echo "$exports" | grep -c '^FT_[A-Za-z]*$')" -ne 15 ] || echo "$exports" | grep -q '@'; then
    fail "the 32-bit stand-in does not export the 15 FT_ names undecorated"
  fi
}

# Whether this machine runs 32-bit Windows programs: the 32-bit terminal program must answer.
runs_32_bit() {
  wine "$win32_build/app/cli/vxa4410-cli.exe" --version >"$run/probe32.out" 2>"$run/probe32.err" &&
    [ -s "$run/probe32.out" ]
}

build_i686() {
  say "32-bit build"
  configure "$win32_build" cmake/toolchains/mingw-w64-i686.cmake \
    -DVXA_BOOT_IMAGE="$win_build/app/image/placeholder_boot_image.bin"
  step build-win32 cmake --build "$win32_build" --target vxa4410-cli vxa4410-loader vxa_d2xx_standin
  check_hardening i686-w64-mingw32-objdump "DYNAMIC_BASE NX_COMPAT" \
    "$win32_build/app/cli/vxa4410-cli.exe" "$win32_build/app/win32/vxa4410-loader.exe"
  check_standin_exports
  if ! runs_32_bit; then
    echo "windows: this machine runs no 32-bit programs ($(head -c 200 "$run/probe32.err" | tr '\n' ' '))"
    echo "windows: the 32-bit build is compiled and checked, not run"
    return
  fi
  say "32-bit programs under Wine"
  step build-win32-all cmake --build "$win32_build"
  # The same suite, the window's screenshots and the program driven from outside included.
  local shots="$win32_build/screenshots"
  rm -rf "$shots"
  mkdir -p "$shots"
  VXA_SCREENSHOTS=$("$wine64" winepath -w "$shots" 2>/dev/null) \
    VXA_LOADER_EXE=$("$wine64" winepath -w "$win32_build/app/win32/vxa4410-loader.exe" 2>/dev/null) \
    step suite32 ctest --test-dir "$win32_build" --output-on-failure -j2
  tail -n 3 "$run/suite32.out"
  expect_files "$shots"/{1-start,2-found,3-confirmation,7-success,8-english}.png
  echo "32-bit screenshots: $(cd "$shots" && echo *.png)"
  update zip32 "$run" wine "$win32_build/app/cli/vxa4410-cli.exe" --sim --fast
}

prepare_wine
start_display
build_x86_64
portable_suite
updates_over_the_backends
zip_archive
installer
build_i686
say "done"
