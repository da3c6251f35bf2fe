#!/usr/bin/env bash
# Installs the Debian packages the build needs, and only those that are missing; with the
# argument "vm", those of `make vm-test` instead (QEMU, the guest's shell, its initramfs, the
# socket link, the kernel's unpacking); with "--windows", those of `make windows` (mingw-w64
# with the posix thread model, Wine to run the programs, 64-bit and, from Debian's i386
# multiarch, 32-bit, with the fonts Wine draws its windows with, Xvfb for the window's display,
# NSIS for the installer, GoogleTest's sources to build for Windows). Nothing is fetched from
# anywhere but the system's own package archive.
set -euo pipefail

if [ "${1:-}" = vm ]; then
  packages=(qemu-system-x86 busybox-static cpio socat xz-utils)
elif [ "${1:-}" = --windows ]; then
  packages=(
    cmake ninja-build make
    g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64
    binutils-mingw-w64-i686 wine wine64 wine32:i386 fonts-wine xvfb nsis googletest
    nlohmann-json3-dev
  )
else
  packages=(
    cmake ninja-build g++ make pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    qt6-base-dev qt6-translations-l10n libftdi1-dev nlohmann-json3-dev
    clang libclang-rt-14-dev
    libqt6svg6
    dpkg-dev devscripts file lintian appstream man-db bash-completion
  )
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi

# wine32 is an i386 package: the architecture must be known to dpkg before it can be installed.
new_architecture=no
if [ "${1:-}" = --windows ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
  new_architecture=yes
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ] && [ $new_architecture = no ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
