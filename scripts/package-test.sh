#!/usr/bin/env bash
# The two Debian packages as a user gets them: each holds its own files and nothing of the
# other's, the terminal program's needs no Qt, the programs installed from them run from there
# (the terminal program updates the simulated instrument), they are built hardened
# (hardening-check passes them), and lintian has nothing to say about either. Then, where it may
# (as root, as CI runs, or with sudo that asks no password), it installs them with apt as a user
# would, reads the manual pages in both languages, and removes them again: nothing may stay
# behind in the "rc" state.
# Usage: scripts/package-test.sh [CLI.deb LOADER.deb]   (default: the newest of each in build/)
set -euo pipefail
cd "$(dirname "$0")/.."
newest() { ls -t build/"$1"_*.deb 2>/dev/null | head -n 1; }
cli_deb=$(realpath -q "${1:-$(newest vxa4410-cli)}") || true
loader_deb=$(realpath -q "${2:-$(newest vxa4410-loader)}") || true
[ -f "$cli_deb" ] && [ -f "$loader_deb" ] || {
  echo "No packages: run \`make package\` first." >&2
  exit 1
}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

work=$(mktemp -d)
installed_here=()
cleanup() {
  if [ ${#installed_here[@]} -gt 0 ]; then as_root apt-get remove -y -qq "${installed_here[@]}"; fi
  rm -rf "$work"
}
trap cleanup EXIT
cli=$work/cli loader=$work/loader
dpkg-deb -x "$cli_deb" "$cli"
dpkg-deb -x "$loader_deb" "$loader"

# has ROOT PATH...: the unpacked package has each file.
has() {
  local root=$1 path
  shift
  for path in "$@"; do [ -f "$root/$path" ] || fail "$(basename "$root") has no /$path"; done
}

check_contents() {
  local man=usr/share/man
  has "$cli" usr/bin/vxa4410-cli usr/bin/vxa4410-sim usr/lib/udev/rules.d/60-vxa4410.rules \
    $man/man1/vxa4410-cli.1.gz $man/man1/vxa4410-sim.1.gz \
    $man/ru/man1/vxa4410-cli.1.gz $man/ru/man1/vxa4410-sim.1.gz \
    usr/share/bash-completion/completions/vxa4410-cli \
    usr/share/doc/vxa4410-cli/copyright usr/share/doc/vxa4410-cli/changelog.Debian.gz
  has "$loader" usr/bin/vxa4410-loader usr/share/applications/vxa4410-loader.desktop \
    usr/share/icons/hicolor/scalable/apps/vxa4410-loader.svg \
    usr/share/metainfo/vxa4410-loader.metainfo.xml \
    $man/man1/vxa4410-loader.1.gz $man/ru/man1/vxa4410-loader.1.gz \
    usr/share/doc/vxa4410-loader/copyright usr/share/doc/vxa4410-loader/changelog.Debian.gz
  local shared
  shared=$(comm -12 <(cd "$cli" && find . -type f | sort) <(cd "$loader" && find . -type f | sort))
  [ -z "$shared" ] || fail "both packages hold" $shared
  # Nothing under /etc: a removed package leaves no configuration behind.
  [ ! -e "$cli/etc" ] && [ ! -e "$loader/etc" ] || fail "a package installs under /etc"
  local depends version
  depends=$(dpkg-deb -f "$cli_deb" Depends)
  [[ $depends != *qt* ]] || fail "vxa4410-cli depends on Qt: $depends"
  version=$(dpkg-deb -f "$cli_deb" Version)
  [[ ", $(dpkg-deb -f "$loader_deb" Depends), " == *", vxa4410-cli (= $version), "* ]] ||
    fail "vxa4410-loader does not depend on vxa4410-cli (= $version)"
}

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

check_unpacked() {
  local program
  for program in "$cli"/usr/bin/* "$loader"/usr/bin/*; do check_hardening "$program"; done
  "$cli/usr/bin/vxa4410-cli" --sim --fast --yes update
  env -u DISPLAY -u WAYLAND_DISPLAY "$loader/usr/bin/vxa4410-loader" --version
  "$cli/usr/bin/vxa4410-sim" --version

  # The completion loads and offers the file kinds after "read".
  local kinds
  kinds=$(bash -c 'source /usr/share/bash-completion/bash_completion && source "$1" &&
    COMP_WORDS=(vxa4410-cli read "") COMP_CWORD=2 COMP_LINE="vxa4410-cli read " COMP_POINT=17 &&
    _vxa4410_cli && echo "${COMPREPLY[*]}"' - "$cli/usr/share/bash-completion/completions/vxa4410-cli")
  [[ " $kinds " == *" dev_info "* ]] || fail "the bash completion offers \"$kinds\" after read"

  # The component id is the program's name, not a reversed domain: the one warning accepted.
  appstreamcli validate --no-net --override=cid-desktopapp-is-not-rdns=info \
    "$loader/usr/share/metainfo/vxa4410-loader.metainfo.xml"
  # Not a tag, informational ones included.
  lintian --display-info --fail-on error,warning,info "$cli_deb" "$loader_deb" | tee "$work/lintian"
  [ ! -s "$work/lintian" ] || fail "lintian has tags for the packages"
}

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo -n "$@"; fi; }
# left_configured: the packages of ours that dpkg lists as removed with their configuration.
left_configured() { { dpkg -l 'vxa4410-*' 2>/dev/null || true; } | awk '$1 == "rc" { print $2 }'; }

# man -L LANGUAGE PAGE of the installed page: found where Debian puts it, rendered without warnings.
check_page() {
  local language=$1 page=$2 where warnings
  where=$(man -L "$language" -w "$page")
  [ "$language" = en ] || [[ $where == /usr/share/man/$language/man1/* ]] ||
    fail "man -L $language $page finds $where"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -L "$language" "$page" 2>&1 >/dev/null) || true
  [ -z "$warnings" ] || fail "man -L $language $page renders with warnings: $warnings"
}

check_install() {
  if ! as_root true 2>/dev/null; then
    echo "package-test: install and removal skipped: neither root nor sudo without a password"
    return
  fi
  if dpkg-query -W -f='${Status}\n' vxa4410-cli vxa4410-loader 2>/dev/null | grep -q ' installed$'; then
    echo "package-test: install and removal skipped: the packages are installed on this machine"
    return
  fi
  local before
  before=$(left_configured)
  installed_here=(vxa4410-loader vxa4410-cli)
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "$cli_deb" "$loader_deb"
  (cd "$work" && vxa4410-cli --sim --fast --yes update >/dev/null)
  local page language
  for page in vxa4410-cli vxa4410-sim vxa4410-loader; do
    for language in en ru; do check_page $language $page; done
  done
  # The window goes alone; the terminal program stays, and then goes too.
  as_root apt-get remove -y -qq vxa4410-loader
  dpkg-query -W -f='${Status}\n' vxa4410-cli | grep -q ' installed$' ||
    fail "removing vxa4410-loader removed vxa4410-cli"
  as_root apt-get remove -y -qq vxa4410-cli
  installed_here=()
  [ ! -e /usr/bin/vxa4410-cli ] && [ ! -e /usr/lib/udev/rules.d/60-vxa4410.rules ] ||
    fail "apt remove left files behind"
  local left
  left=$(comm -13 <(echo "$before") <(left_configured))
  [ -z "$left" ] || fail "apt remove left in the rc state:" $left
}

check_contents
check_unpacked
check_install
echo "Package test passed: $cli_deb $loader_deb"
