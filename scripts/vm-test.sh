#!/usr/bin/env bash
# make vm-test: the program against the kernel's real ftdi_sio driver. A small QEMU guest (TCG)
# boots Debian's kernel; its USB bus carries QEMU's emulated FTDI chip, whose serial side is
# vxa4410-sim on this machine. The guest's /init (tests/vm/init) runs the cases; this script
# builds the guest, boots it once per link and case set, plays the host's part of the faults and
# prints the results.
#
# What the guest tells comes in files and an exit code, never in sentences read off its console
# (which is kept for the eye, and shown when a guest fails): one row per case in `cases` (its
# second serial port), the host's cue to kill the simulator in `kill-request` (its third), and
# its verdict as QEMU's exit code, written to QEMU's isa-debug-exit port.
#
# scripts/vm-test.sh [BUILD [LINK/RUN...]]: all four guests, or those named (pty/cases, ...).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
only=("${@:2}")
vm=$build/vm
modules=(usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio)
qemu=(qemu-system-x86_64 -accel tcg -m 512 -smp 1 -nodefaults -no-reboot -display none
  -monitor none)
# The simulator plays the line in real time and the guest must feed it as a host feeds a bridge:
# a pause of 20 ms in the middle of a packet makes the instrument drop it, as a real one would.
# Where it may, the test runs them ahead of whatever else the machine is doing.
urgent=()
if nice -n -10 true 2>/dev/null; then urgent=(nice -n -10); fi
columns='printf "%-6s %-12s %-7s %-8s %-7s %-6s %6s  %s\n", $1, $2, $3, $4, $5, $6, $7, $8'
passed=0
failed=0
pids=()

# step WHAT LOG... -- COMMAND...: runs COMMAND; when it fails, says what failed with its exit code
# and shows the end of each LOG, and returns that code.
step() {
  local what=$1 logs=() status=0
  shift
  while [ "$1" != -- ]; do
    logs+=("$1")
    shift
  done
  shift
  "$@" || status=$?
  [ "$status" -eq 0 ] && return 0
  echo "vm-test: $what failed (exit code $status)"
  local log
  for log in "${logs[@]}"; do
    if [ -s "$log" ]; then
      echo "--- $log"
      tail -n 25 "$log" | sed 's/^/    /'
    fi
  done
  return "$status"
}

# Whatever the script leaves running when it ends, by the ids it started.
stop_started() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  pids=()
}

row() { awk -F'|' "{ $columns }" <<<"$1"; }
count() {
  passed=$((passed + $1))
  failed=$((failed + $2))
}

# --- Debian's kernel, unpacked here and never installed: vmlinuz and the USB modules. ----------
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ { print $2; exit }'
}

# Under TCG a guest takes 15 s and more to unpack its own kernel. QEMU boots the unpacked image
# directly (its PVH entry), so it is unpacked here once; a kernel packed other than with xz boots
# as it is.
unpacked_image() {
  local vmlinuz=$1 into=$2 offset
  offset=$(LC_ALL=C grep -aboP '\xfd7zXZ\x00' "$vmlinuz" | head -n 1 | cut -d: -f1)
  if [ -n "$offset" ]; then
    tail -c +$((offset + 1)) "$vmlinuz" | xz -dcq >"$into.vmlinux" 2>/dev/null || true
  fi
  if [ "$(head -c 4 "$into.vmlinux" 2>/dev/null)" = $'\x7fELF' ]; then
    mv "$into.vmlinux" "$into"
  else
    rm -f "$into.vmlinux"
    cp "$vmlinuz" "$into"
  fi
}

fetch_kernel() {
  local package
  package=$(kernel_package)
  if [ -z "$package" ]; then
    apt-get update -qq
    package=$(kernel_package)
  fi
  kernel=$vm/$package
  [ -f "$kernel/image" ] && return
  echo "vm-test: fetching $package"
  rm -rf "$kernel" && mkdir -p "$kernel/unpacked"
  step "fetching $package" "$kernel/apt.log" -- \
    bash -c 'cd "$1" && apt-get download -q -o APT::Sandbox::User=root "$2" >apt.log 2>&1' \
    - "$kernel" "$package"
  dpkg-deb -x "$kernel"/*.deb "$kernel/unpacked"
  local module
  for module in "${modules[@]}"; do
    find "$kernel/unpacked/lib/modules" -name "$module.ko*" -exec cp {} "$kernel/" \;
  done
  unpacked_image "$(echo "$kernel"/unpacked/boot/vmlinuz-*)" "$kernel/image.new"
  rm -rf "$kernel/unpacked" "$kernel"/*.deb "$kernel/apt.log"
  mv "$kernel/image.new" "$kernel/image"
}

# --- The initramfs: busybox, the modules, the programs and their whole ldd closure. ------------
make_initramfs() {
  local root=$vm/root program library
  rm -rf "$root" && mkdir -p "$root"/{bin,lib/modules,dev,proc,sys,tmp}
  cp /bin/busybox "$root/bin/"
  for module in "${modules[@]}"; do cp "$kernel/$module".ko* "$root/lib/modules/"; done
  if ls "$root"/lib/modules/*.ko.xz >/dev/null 2>&1; then unxz "$root"/lib/modules/*.ko.xz; fi
  cp tests/vm/init "$root/init"
  local programs=("$build/app/cli/vxa4410-cli" "$build/tests/vm/vm_line_check")
  local shim=$build/tests/vm/libvm_product_shim.so
  for program in "${programs[@]}"; do strip -o "$root/bin/$(basename "$program")" "$program"; done
  strip -o "$root/lib/vm_product_shim.so" "$shim"
  for library in $(ldd "${programs[@]}" "$shim" |
    awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }' | sort -u); do
    mkdir -p "$root$(dirname "$library")"
    cp -L "$library" "$root$library"
  done
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$vm/initrd.cpio.gz"
}

# --- One guest. ---------------------------------------------------------------------------------
# start_simulator DIR LINK RUN [OPTIONS...]: vxa4410-sim in the background (sim), its pty (pty).
start_simulator() {
  local dir=$1 link=$2 run=$3
  shift 3
  local options=(--install-time 1 "$@")
  [ "$link" = pty ] && options+=(--no-cts)
  [ "$run" = cases ] && options+=(--swap-out "$dir/swap.bin")
  coproc SIM { exec "${urgent[@]}" "$build/sim/vxa4410-sim" "${options[@]}" 2>"$dir/sim.log"; }
  sim=$SIM_PID
  pids+=("$sim")
  pty=
  read -r pty <&"${SIM[0]}" || true
  [ -c "$pty" ]
}

# start_socket DIR: socat between a unix socket and the pty, where QEMU's chardev connects.
start_socket() {
  local dir=$1
  # A larger block, or socat's nonblock option, loses data.
  "${urgent[@]}" socat -b 512 "UNIX-LISTEN:$dir/socket" "FILE:$pty,rawer" 2>"$dir/socat.log" &
  pids+=($!)
  for _ in $(seq 50); do [ -S "$dir/socket" ] && return; sleep 0.1; done
  return 1
}

# guest DIR LINK RUN CHARDEV...: boots the guest and ends with its verdict: 0 passed, 1 failed.
# In the kill run it kills the simulator when the guest asks for it.
guest() {
  local dir=$1 link=$2 run=$3 baud=3000000
  shift 3
  [ "$link" = pty ] && baud=1500000
  "${urgent[@]}" timeout 170 "${qemu[@]}" -serial "file:$dir/console.log" \
    -serial "file:$dir/cases" -serial "file:$dir/kill-request" \
    -device isa-debug-exit,iobase=0xf4,iosize=0x04 \
    -kernel "$kernel/image" -initrd "$vm/initrd.cpio.gz" \
    -append "console=ttyS0 quiet panic=-1 vxa_link=$link vxa_baud=$baud vxa_run=$run" \
    -device qemu-xhci,id=usb -device usb-serial,bus=usb.0,chardev=c1 "$@" 2>"$dir/qemu.log" &
  local qemu_pid=$!
  pids+=("$qemu_pid")
  if [ "$run" = kill ]; then
    while kill -0 "$qemu_pid" 2>/dev/null && [ ! -s "$dir/kill-request" ]; do sleep 0.2; done
    kill -KILL "$sim" 2>/dev/null || true
  fi
  local status=0
  # Quietly: bash would announce the simulator killed on purpose as it reaps it here.
  wait "$qemu_pid" 2>/dev/null || status=$?
  # The guest writes 0 or 1 to the exit port, and QEMU exits with twice that plus one; anything
  # else (0: it powered off, 124: the time ran out) is a guest that never gave its verdict.
  case $status in
    1) return 0 ;;
    3) return 1 ;;
    124) echo "vm-test: $link/$run: no verdict within 170 s" ;;
    *) echo "vm-test: $link/$run: no verdict (QEMU exit code $status)" ;;
  esac
  return 2
}

# show_guest DIR LINK RUN: the guest's cases as a table (a failed guest's checks and the
# program's output are in its console, which `step` has shown), what the simulator stored and its
# own account; counts the cases, and leaves how many of them failed in failed_rows.
show_guest() {
  local dir=$1 link=$2 run=$3
  if [ -f "$dir/cases" ]; then awk -F'|' "{ $columns }" "$dir/cases"; fi
  failed_rows=$(awk -F'|' '$6 != "ok"' "$dir/cases" 2>/dev/null | wc -l)
  count "$(awk -F'|' '$6 == "ok"' "$dir/cases" 2>/dev/null | wc -l)" "$failed_rows"
  # What the simulator stored of the update: the image, byte for byte (it writes it as it ends).
  if [ "$run" = cases ]; then
    if cmp -s "$dir/swap.bin" "$image"; then
      count 1 0
      row "$link|swap||||ok||$(stat -c %s "$image") bytes, the boot image"
    else
      count 0 1
      row "$link|swap||||failed||not the boot image: $(cmp "$dir/swap.bin" "$image" 2>&1)"
    fi
  fi
  tail -n 1 "$dir/sim.log" | sed 's/^/    /'
}

# boot LINK RUN [SIMULATOR OPTIONS...]: one guest. LINK is pty (QEMU on the simulator's pty: the
# modem lines read low) or socket (socat between a unix socket and the pty: CTS reads high). RUN
# is what the guest does: cases, unplug or kill.
boot() {
  local link=$1 run=$2
  shift 2
  if [ ${#only[@]} -gt 0 ] && [[ " ${only[*]} " != *" $link/$run "* ]]; then return; fi
  local dir=$vm/$link-$run started=$SECONDS verdict=0 chardev
  rm -rf "$dir" && mkdir -p "$dir"
  if ! step "$link/$run: the simulator" "$dir/sim.log" -- start_simulator "$dir" "$link" "$run" "$@"; then
    count 0 1
    stop_started
    return
  fi
  chardev=(-chardev "serial,id=c1,path=$pty")
  if [ "$link" = socket ]; then
    if ! step "$link/$run: the socket link" "$dir/socat.log" -- start_socket "$dir"; then
      count 0 1
      stop_started
      return
    fi
    chardev=(-chardev "socket,id=c1,path=$dir/socket")
  fi
  step "$link/$run: the guest" "$dir/console.log" "$dir/qemu.log" "$dir/sim.log" -- \
    guest "$dir" "$link" "$run" "${chardev[@]}" || verdict=$?
  stop_started
  show_guest "$dir" "$link" "$run"
  if [ "$verdict" -eq 0 ]; then
    echo "$link/$run: passed in $((SECONDS - started)) s"
  else
    # A guest that failed outside its cases (no verdict, or a check before them) counts once.
    [ "$failed_rows" -gt 0 ] || count 0 1
    echo "$link/$run: failed in $((SECONDS - started)) s (logs in $dir)"
  fi
}

main() {
  mkdir -p "$vm"
  vm=$(realpath "$vm")
  scripts/install-deps.sh vm
  step "building the programs" "$vm/build.log" -- \
    bash -c 'cmake --build "$1" --target vxa4410-cli vxa4410-sim vm_line_check vm_product_shim \
      >"$2" 2>&1' - "$build" "$vm/build.log"
  trap stop_started EXIT
  fetch_kernel
  make_initramfs
  # TCG only (KVM is not usable on nested machines). Where QEMU cannot start at all, skip.
  if ! timeout 60 "${qemu[@]}" -S -qmp stdio >"$vm/probe.log" 2>&1 <<<'{"execute": "qmp_capabilities"}
{"execute": "quit"}'; then
    echo "vm-test: skipped, QEMU cannot start here: $(cat "$vm/probe.log")"
    exit 0
  fi
  image=$(sed -n 's/^VXA_BOOT_IMAGE:FILEPATH=//p' "$build/CMakeCache.txt")
  [ -n "$image" ] || image=$build/app/image/placeholder_boot_image.bin

  row "link|case|backend|driver|speed|result|time|"
  boot pty cases
  boot socket cases
  boot pty unplug --fault unplug:1:10::0x34
  boot socket kill
  echo "vm-test: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

main
