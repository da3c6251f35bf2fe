#!/usr/bin/env bash
# The Debian package as a user gets it: its files are where Debian looks for them, the programs
# installed from it run from there (the terminal program updates the simulated instrument), and
# lintian finds no error in it. Its programs are built hardened: hardening-check passes them, and
# lintian has no hardening tag for them.
# Usage: scripts/package-test.sh [PACKAGE.deb]   (default: the newest one in build/)
set -euo pipefail
cd "$(dirname "$0")/.."
deb=${1:-$(ls -t build/vxa4410-loader_*.deb 2>/dev/null | head -n 1)}
[ -f "$deb" ] || { echo "No package: run \`make package\` first." >&2; exit 1; }
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
for path in usr/bin/vxa4410-cli usr/bin/vxa4410-loader usr/bin/vxa4410-sim \
  usr/lib/udev/rules.d/60-vxa4410.rules \
  usr/share/man/man1/vxa4410-cli.1.gz usr/share/man/man1/vxa4410-loader.1.gz \
  usr/share/man/man1/vxa4410-sim.1.gz \
  usr/share/bash-completion/completions/vxa4410-cli \
  usr/share/applications/vxa4410-loader.desktop \
  usr/share/icons/hicolor/scalable/apps/vxa4410-loader.svg \
  usr/share/metainfo/vxa4410-loader.metainfo.xml \
  usr/share/doc/vxa4410-loader/copyright usr/share/doc/vxa4410-loader/changelog.Debian.gz; do
  [ -f "$root/$path" ] || fail "the package has no /$path"
done

# Debian 12's own start-up files (Scrt1.o, crti.o) carry no mark of control-flow protection, so no
# program of it gets the mark however it is compiled: hardening-check's line for it is skipped,
# and the instructions that -fcf-protection puts at the entry of functions are counted instead
# (one for each twenty calls at the least; a build without it has a couple in all).
check_hardening() {
  hardening-check --nocfprotection "$1" || fail "$1 is not built hardened"
  local code entries calls
  code=$(objdump -d --no-show-raw-insn "$1")
  entries=$(grep -c $'\tendbr64' <<<"$code" || true)
  calls=$(grep -c $'\tcall ' <<<"$code" || true)
  [ $((entries * 20)) -ge "$calls" ] ||
    fail "$1 is built without -fcf-protection ($entries endbr64 for $calls calls)"
}
for program in "$root"/usr/bin/*; do check_hardening "$program"; done

"$root/usr/bin/vxa4410-cli" --sim --fast --yes update
env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/vxa4410-loader" --version
"$root/usr/bin/vxa4410-sim" --version

# The completion loads and offers the file kinds after "read".
kinds=$(bash -c 'source /usr/share/bash-completion/bash_completion && source "$1" &&
  COMP_WORDS=(vxa4410-cli read "") COMP_CWORD=2 COMP_LINE="vxa4410-cli read " COMP_POINT=17 &&
  _vxa4410_cli && echo "${COMPREPLY[*]}"' - "$root/usr/share/bash-completion/completions/vxa4410-cli")
[[ " $kinds " == *" dev_info "* ]] || fail "the bash completion offers \"$kinds\" after read"

# The component id is the program's name, not a reversed domain: the one warning accepted.
appstreamcli validate --no-net --override=cid-desktopapp-is-not-rdns=info \
  "$root/usr/share/metainfo/vxa4410-loader.metainfo.xml"
lintian --display-info --fail-on error "$deb" | tee "$root/lintian.txt"
if grep -q ' hardening-' "$root/lintian.txt"; then fail "lintian finds the programs not hardened"; fi
echo "Package test passed: $deb"
