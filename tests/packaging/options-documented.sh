#!/usr/bin/env bash
# options-documented.sh PROGRAM VERSION DOCUMENT [LANGUAGE-OPTION]
#
# Every option that `PROGRAM --help` lists is documented in DOCUMENT: a manual page (*.1), where
# the options are the tags of its tagged paragraphs and which must render without a warning, or
# a bash completion script, where they are the words it offers (single-quoted lists). A page in a
# folder named ru is compared with the Russian help, any other with the English one, the language
# chosen by LANGUAGE-OPTION (--lang for the terminal program, -lang for the window; a program
# without it has one help). `PROGRAM --version` prints its name and VERSION first. Neither answer
# may need a display. The window, asked to open without a display, names the terminal program
# instead, and refuses an option it does not have with its usage line.
set -euo pipefail
program=$1 version=$2 document=$3 choose=${4:-}
name=$(basename "$program")
language=en
[[ $document == */ru/* ]] && language=ru
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
run() { env -u DISPLAY -u WAYLAND_DISPLAY "$program" "$@"; }
help_in() { if [ -n "$choose" ]; then run "$choose" "$1" --help; else run --help; fi; }

help=$(help_in $language) || fail "$name --help exited with $?"
if [ -n "$choose" ]; then
  other=$([ $language = ru ] && echo en || echo ru)
  [ "$help" != "$(help_in $other)" ] || fail "$name $choose $language --help is not in its language"
fi
answer=$(run --version) || fail "$name --version exited with $?"
[ "$(head -n 1 <<<"$answer")" = "$name $version" ] || fail "$name --version printed \"$answer\""

if [ "$name" = vxa4410-loader ]; then
  status=0
  said=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" -lang en -sim 2>&1) ||
    status=$?
  [ $status = 1 ] || fail "$name without a display exited with $status"
  grep -q 'vxa4410-cli' <<<"$said" || fail "$name without a display said \"$said\""
  status=0
  said=$(QT_QPA_PLATFORM=offscreen "$program" -lang en --sim 2>&1) || status=$?
  [ $status = 2 ] || fail "$name --sim exited with $status"
  # Qt may say something of its own first (a missing XDG_RUNTIME_DIR).
  grep -qx "$name: unknown option: --sim" <<<"$said" || fail "$name --sim said \"$said\""
  grep -q "^Usage: $name " <<<"$said" || fail "$name --sim showed no usage: \"$said\""
fi

# The usage's option lines begin with the option a few spaces in ("  --port PATH   text",
# "  --help, --version"); a wrapped line of a text, further in, may start with an option too.
listed=$(sed -n 's/^ \{1,4\}\(-[^[:space:]].*\)$/\1/p' <<<"$help" | sed 's/  .*//' |
  tr ',' '\n' | awk '{ print $1 }' | sort -u)
[ "$(wc -l <<<"$listed")" -ge 2 ] || fail "no options found in the output of $name --help"

if [[ $document == *.1 ]]; then
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -L $language -l "$document" 2>&1 >/dev/null) ||
    true
  [ -z "$warnings" ] || fail "$document renders with warnings: $warnings"
  documented=$(awk '/^\.TP/ { getline; print }' "$document" |
    sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/^\.[A-Z]* //' -e 's/"//g' | tr ' ,' '\n\n')
else
  documented=$(grep -o "'[^']*'" "$document" | tr -d "'" | tr -s ' ' '\n')
fi
missing=$(comm -23 <(echo "$listed") <(grep -E '^-' <<<"$documented" | sort -u))
[ -z "$missing" ] || fail "$document lacks options that $name $choose $language --help lists:" $missing
