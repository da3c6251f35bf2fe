#!/usr/bin/env bash
# The Windows build under Wine: cross-build with mingw-w64, run the portable suite, update the
# simulated instrument through a COM port and through the vendor's library (our stand-in), build
# the zip archive and run the program it holds, and compile the 32-bit build with its stand-in
# library's exports checked.
#   scripts/windows.sh LINUX_BUILD WIN_BUILD WIN32_BUILD
# LINUX_BUILD holds vxa4410-sim (the instrument on a pseudo-terminal that Wine maps to a COM port).
set -euo pipefail
cd "$(dirname "$0")/.."
linux_build=$(realpath -m "${1:-build}")
win_build=$(realpath -m "${2:-build-win}")
win32_build=$(realpath -m "${3:-build-win32}")

started=$SECONDS
stage() { echo "== windows: $* ($((SECONDS - started)) s)"; }

# A prefix of our own, and one wineserver for the whole run: without it every program started
# pays for starting the server anew. Its stderr goes to a file: it takes the pty of the COM port
# as its controlling terminal and floods its output when the simulator closes it.
export WINEPREFIX="$win_build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver -p >"$win_build/wineserver.log" 2>&1
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
stage "preparing the Wine prefix"
"$wine64" wineboot -i >/dev/null 2>&1

# Release: no debug information to write and link for two targets' worth of programs; ccache
# where the machine has it.
cmake_flags=(-G Ninja -DCMAKE_BUILD_TYPE=Release)
if command -v ccache >/dev/null; then cmake_flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

stage "cross-building for Windows x86-64"
cmake -S . -B "$win_build" "${cmake_flags[@]}" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake >/dev/null
cmake --build "$win_build"

stage "portable suite under Wine"
(cd "$win_build" && ctest --output-on-failure -j2)

exe="$win_build/app/cli/vxa4410-cli.exe"
run=$(mktemp -d)
sim_pid=
cleanup_run() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -rf "$run"
  wineserver -k >/dev/null 2>&1 || true
}
trap cleanup_run EXIT

stage "update over COM5 against vxa4410-sim on a pty (slow)"
sim="$linux_build/sim/vxa4410-sim"
if [ ! -x "$sim" ]; then
  echo "no $sim: build the Linux programs first (make build)" >&2
  exit 1
fi
"$sim" --once >"$run/sim.out" 2>"$run/sim.err" &
sim_pid=$!
for _ in $(seq 100); do
  [ -s "$run/sim.out" ] && break
  sleep 0.1
done
pty=$(head -n1 "$run/sim.out")
case "$pty" in /dev/*) ;; *) echo "vxa4410-sim printed no port: $pty" >&2; exit 1 ;; esac
ln -sfn "$pty" "$WINEPREFIX/dosdevices/com5"
(cd "$run" && timeout 300 "$wine64" "$exe" --lang en --port COM5 --log --yes update \
  >"$run/com.out" 2>"$run/com.err") || {
  echo "update over COM5 failed:"; cat "$run/com.out" "$run/com.err" "$run/sim.err"; exit 1; }
cat "$run/com.out"
# The log is the Linux program's, line for line: no CR anywhere.
if grep -q $'\r' "$run/log_file.txt"; then
  echo "log_file.txt has CR line ends" >&2
  exit 1
fi
grep -c "CMD(0x34)" "$run/log_file.txt" | sed 's/^/write blocks in the log: /'
# --once: it ends by itself when the program has closed the port for good.
timeout 30 tail --pid="$sim_pid" -f /dev/null || kill "$sim_pid" 2>/dev/null || true
sim_pid=

stage "update through the vendor's library (the stand-in DLL beside the program)"
cp "$exe" "$win_build/tests/drivers/ftd2xx.dll" "$run/"
(cd "$run" && timeout 300 "$wine64" ./vxa4410-cli.exe --lang en --driver d2xx --yes update \
  >"$run/d2xx.out" 2>"$run/d2xx.err") || {
  echo "update through ftd2xx.dll failed:"; cat "$run/d2xx.out" "$run/d2xx.err"; exit 1; }
cat "$run/d2xx.out"

stage "the zip archive, unpacked and run as a user would"
(cd "$win_build" && cpack >/dev/null)
archive=$(ls "$win_build"/vxa4410-loader-*-win64.zip)
mkdir "$run/zip"
(cd "$run/zip" && cmake -E tar xf "$archive")
unpacked=$(echo "$run"/zip/vxa4410-loader-*-win64)
for file in vxa4410-cli.exe README.txt licenses/gcc-runtime.txt licenses/GPL-3.txt \
    licenses/mingw-w64-runtime.txt; do
  if [ ! -s "$unpacked/$file" ]; then echo "$(basename "$archive") lacks $file" >&2; exit 1; fi
done
# Notepad before Windows 10 shows a file without CR as one line.
if grep -qv $'\r$' "$unpacked/README.txt"; then
  echo "README.txt in $(basename "$archive") has a line without CR" >&2
  exit 1
fi
(cd "$unpacked" && timeout 120 "$wine64" ./vxa4410-cli.exe --lang en --sim --fast --yes update \
  >"$run/zip.out" 2>"$run/zip.err") || {
  echo "the archive's program failed:"; cat "$run/zip.out" "$run/zip.err"; exit 1; }
grep -q "The firmware is successfully completed" "$run/zip.out" || {
  echo "the archive's program did not report the update:"; cat "$run/zip.out"; exit 1; }
echo "$(basename "$archive"): $(cd "$unpacked" && find . -type f | sort | tr '\n' ' ')"

stage "32-bit build, compiled only (Wine here runs no 32-bit programs)"
cmake -S . -B "$win32_build" "${cmake_flags[@]}" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake \
  -DVXA_BOOT_IMAGE="$win_build/app/image/placeholder_boot_image.bin" >/dev/null
cmake --build "$win32_build" --target vxa4410-cli vxa_d2xx_standin
# The vendor's DLL exports bare names; __stdcall would decorate them (FT_Open@8).
exports=$(i686-w64-mingw32-objdump -p "$win32_build/tests/drivers/ftd2xx.dll" |
  awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next} on && NF == 0 {on = 0} on {print $NF}')
echo "$exports" | tr '\n' ' '; echo
if [ "$(echo "$exports" | grep -c '^FT_[A-Za-z]*$')" -ne 15 ] || echo "$exports" | grep -q '@'; then
  echo "the 32-bit stand-in does not export the 15 FT_ names undecorated" >&2
  exit 1
fi
stage "done"
