#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing; with the
# argument "vm", those of `make vm-test` instead (QEMU, the guest's shell, its initramfs, the
# socket link, the kernel's unpacking); with "--windows", those of `make windows` (mingw-w64
# with the posix thread model, Wine to run the programs, GoogleTest's sources to build for
# Windows). Nothing is fetched from anywhere but the system's own package archive.
set -euo pipefail

if [ "${1:-}" = vm ]; then
  packages=(qemu-system-x86 busybox-static cpio socat xz-utils)
elif [ "${1:-}" = --windows ]; then
  packages=(
    cmake ninja-build make
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64
    binutils-mingw-w64-i686 wine wine64 googletest
  )
else
  packages=(
    cmake ninja-build g++ make pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-translations-l10n libftdi1-dev
    clang libclang-rt-14-dev
    libqt6svg6
    dpkg-dev devscripts file lintian appstream man-db bash-completion
  )
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
