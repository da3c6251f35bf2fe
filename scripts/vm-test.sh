#!/usr/bin/env bash
# make vm-test: the program against the kernel's real ftdi_sio driver. A small QEMU guest (TCG)
# boots Debian's kernel; its USB bus carries QEMU's emulated FTDI chip, whose serial side is
# vxa4410-sim on this machine. The guest's /init (tests/vm/init) runs the cases and reports them
# on its serial console; this script builds the guest, boots it once per link and case set,
# plays the host's part of the faults and prints the results.
set -euo pipefail
cd "$(dirname "$0")/.."
# scripts/vm-test.sh [BUILD [LINK/RUN...]]: all four guests, or those named (pty/cases, ...).
build=${1:-build}
only=("${@:2}")
vm=$build/vm
mkdir -p "$vm"
vm=$(realpath "$vm")

scripts/install-deps.sh vm
cmake --build "$build" --target vxa4410-cli vxa4410-sim vm_line_check vm_product_shim

# Whatever the script leaves running when it ends, by the ids it started.
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

# --- Debian's kernel, unpacked here and never installed: vmlinuz and the USB modules. ---------
modules=(usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio)
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ { print $2; exit }'
}
package=$(kernel_package)
if [ -z "$package" ]; then
  apt-get update -qq
  package=$(kernel_package)
fi
kernel=$vm/$package
if [ ! -f "$kernel/image" ]; then
  echo "vm-test: fetching $package"
  rm -rf "$kernel" && mkdir -p "$kernel/unpacked"
  (cd "$kernel" && apt-get download -q -o APT::Sandbox::User=root "$package")
  dpkg-deb -x "$kernel"/*.deb "$kernel/unpacked"
  for module in "${modules[@]}"; do
    find "$kernel/unpacked/lib/modules" -name "$module.ko*" -exec cp {} "$kernel/" \;
  done
  # Under TCG a guest takes 15 s and more to unpack its own kernel. QEMU boots the unpacked
  # image directly (its PVH entry), so it is unpacked here once; a kernel packed other than with
  # xz boots as it is.
  vmlinuz=$(echo "$kernel"/unpacked/boot/vmlinuz-*)
  offset=$(LC_ALL=C grep -aboP '\xfd7zXZ\x00' "$vmlinuz" | head -n 1 | cut -d: -f1)
  if [ -n "$offset" ]; then
    tail -c +$((offset + 1)) "$vmlinuz" | xz -dcq >"$kernel/vmlinux" 2>/dev/null || true
  fi
  if [ "$(head -c 4 "$kernel/vmlinux" 2>/dev/null)" = $'\x7fELF' ]; then
    mv "$kernel/vmlinux" "$kernel/image.new"
  else
    cp "$vmlinuz" "$kernel/image.new"
  fi
  rm -rf "$kernel/unpacked" "$kernel"/*.deb "$kernel/vmlinux"
  mv "$kernel/image.new" "$kernel/image"
fi

# --- The initramfs: busybox, the modules, the programs and their whole ldd closure. -----------
root=$vm/root
rm -rf "$root" && mkdir -p "$root"/{bin,lib/modules,dev,proc,sys,tmp}
cp /bin/busybox "$root/bin/"
for module in "${modules[@]}"; do cp "$kernel/$module".ko* "$root/lib/modules/"; done
if ls "$root"/lib/modules/*.ko.xz >/dev/null 2>&1; then unxz "$root"/lib/modules/*.ko.xz; fi
cp tests/vm/init "$root/init"
programs=("$build/app/cli/vxa4410-cli" "$build/tests/vm/vm_line_check")
for program in "${programs[@]}"; do strip -o "$root/bin/$(basename "$program")" "$program"; done
strip -o "$root/lib/vm_product_shim.so" "$build/tests/vm/libvm_product_shim.so"
for library in $(ldd "${programs[@]}" "$build/tests/vm/libvm_product_shim.so" |
  awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }' | sort -u); do
  mkdir -p "$root$(dirname "$library")"
  cp -L "$library" "$root$library"
done
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$vm/initrd.cpio.gz"

# --- QEMU: TCG only (KVM is not usable on nested machines). Where it cannot start at all, skip. -
qemu=(qemu-system-x86_64 -accel tcg -m 512 -smp 1 -nodefaults -no-reboot -display none
  -monitor none)
if ! probe=$(timeout 60 "${qemu[@]}" -S -qmp stdio <<<'{"execute": "qmp_capabilities"}
{"execute": "quit"}' 2>&1); then
  echo "vm-test: skipped, QEMU cannot start here: $probe"
  exit 0
fi

# The simulator plays the line in real time and the guest must feed it as a host feeds a bridge:
# a pause of 20 ms in the middle of a packet makes the instrument drop it, as a real one would.
# Where it may, the test runs them ahead of whatever else the machine is doing.
urgent=()
if nice -n -10 true 2>/dev/null; then urgent=(nice -n -10); fi

image=$(sed -n 's/^VXA_BOOT_IMAGE:FILEPATH=//p' "$build/CMakeCache.txt")
[ -n "$image" ] || image=$build/app/image/placeholder_boot_image.bin

columns='printf "%-6s %-12s %-7s %-8s %-7s %-6s %6s  %s\n", $1, $2, $3, $4, $5, $6, $7, $8'
row() { awk -F'|' "{ $columns }" <<<"$1"; }
passed=0
failed=0
fail() {
  echo "vm-test: $*"
  failed=$((failed + 1))
}

# cases_with RESULT CONSOLE: how many of the guest's cases ended with RESULT (ok, failed).
cases_with() {
  grep -ac "^VXA-CASE \([^|]*|\)\{5\}$1|" "$2" || true
}

# boot LINK RUN [SIMULATOR OPTIONS...]: one guest. LINK is pty (QEMU on the simulator's pty: the
# modem lines read low) or socket (socat between a unix socket and the pty: CTS reads high). RUN
# is what the guest does: cases, unplug or kill.
boot() {
  local link=$1 run=$2
  shift 2
  if [ ${#only[@]} -gt 0 ] && [[ " ${only[*]} " != *" $link/$run "* ]]; then return; fi
  local dir=$vm/$link-$run baud=3000000
  rm -rf "$dir" && mkdir -p "$dir"
  [ "$link" = pty ] && baud=1500000
  local sim_options=(--install-time 1 "$@")
  [ "$link" = pty ] && sim_options+=(--no-cts)
  [ "$run" = cases ] && sim_options+=(--swap-out "$dir/swap.bin")

  coproc SIM { exec "${urgent[@]}" "$build/sim/vxa4410-sim" "${sim_options[@]}" 2>"$dir/sim.log"; }
  local sim=$SIM_PID pty
  pids+=("$sim")
  read -r pty <&"${SIM[0]}" || true
  if [ -z "$pty" ]; then
    fail "$link/$run: the simulator did not start: $(cat "$dir/sim.log")"
    return
  fi
  local chardev=(-chardev "serial,id=c1,path=$pty")
  if [ "$link" = socket ]; then
    # A larger block, or socat's nonblock option, loses data.
    "${urgent[@]}" socat -b 512 "UNIX-LISTEN:$dir/socket" "FILE:$pty,rawer" 2>"$dir/socat.log" &
    pids+=($!)
    for _ in $(seq 50); do [ -S "$dir/socket" ] && break; sleep 0.1; done
    chardev=(-chardev "socket,id=c1,path=$dir/socket")
  fi

  local started=$SECONDS
  "${urgent[@]}" timeout 170 "${qemu[@]}" -serial "file:$dir/console.log" \
    -kernel "$kernel/image" -initrd "$vm/initrd.cpio.gz" \
    -append "console=ttyS0 quiet panic=-1 vxa_link=$link vxa_baud=$baud vxa_run=$run" \
    -device qemu-xhci,id=usb -device usb-serial,bus=usb.0,chardev=c1 "${chardev[@]}" \
    2>"$dir/qemu.log" &
  local qemu_pid=$!
  pids+=("$qemu_pid")
  if [ "$run" = kill ]; then
    while kill -0 "$qemu_pid" 2>/dev/null &&
      ! grep -qs VXA-KILL-SIMULATOR "$dir/console.log"; do
      sleep 0.2
    done
    kill -KILL "$sim" 2>/dev/null || true
  fi
  local qemu_rc=0
  # Quietly: bash would announce the simulator killed on purpose as it reaps it here.
  wait "$qemu_pid" 2>/dev/null || qemu_rc=$?
  local seconds=$((SECONDS - started))
  cleanup
  pids=()

  # The guest's cases as a table, each failed check and the program's output under its case.
  awk -F'|' '/^VXA-CASE / { sub(/^VXA-CASE /, ""); $0 = $0; '"$columns"'; next }
    /^VXA-(CHECK|OUTPUT) / { print "    " $0 }' "$dir/console.log"
  local failed_cases
  failed_cases=$(cases_with failed "$dir/console.log")
  passed=$((passed + $(cases_with ok "$dir/console.log")))
  failed=$((failed + failed_cases))
  # What the simulator stored of the update: the image, byte for byte (it writes it as it ends).
  if [ "$run" = cases ]; then
    if cmp -s "$dir/swap.bin" "$image"; then
      passed=$((passed + 1))
      row "$link|swap||||ok||$(stat -c %s "$image") bytes, the boot image"
    else
      failed=$((failed + 1))
      row "$link|swap||||failed||not the boot image: $(cmp "$dir/swap.bin" "$image" 2>&1)"
    fi
  fi
  # The simulator's own account: what it took, dropped and saw twice.
  tail -n 1 "$dir/sim.log" | sed 's/^/    /'
  if grep -aq '^VXA-END passed' "$dir/console.log"; then
    echo "$link/$run: passed in $seconds s"
  else
    # A guest that failed outside its cases (it never reported, or a check before them).
    [ "$failed_cases" -gt 0 ] || failed=$((failed + 1))
    echo "$link/$run: failed in $seconds s (QEMU exit code $qemu_rc;" \
      "console, simulator and QEMU logs in $dir)"
  fi
}

row "link|case|backend|driver|speed|result|time|"
boot pty cases
boot socket cases
boot pty unplug --fault unplug:1:10::0x34
boot socket kill

echo "vm-test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
