#!/usr/bin/env bash
# Checks that each folder of the product includes and links only the folders below it. Prints
# every offence and exits 1 if there is one. tests/ and bench/ may include anything.
set -euo pipefail
cd "$(dirname "$0")/.."

# One line a folder: what its files may include (path prefixes; Version.h is made by the build),
# which of those prefixes they still may not, and the project's libraries its CMakeLists.txt may
# link. link/drivers/ (the backends) and sim/ are for app/Backend.cpp alone among the folders
# above them: the one place that chooses the backend. Only app/window/ includes Qt. vxa_json is
# the JSON library of the system, for the application and the terminal program.
rules='
base         | base/                                             |                                   |
text         | text/ base/ Version.h                             |                                   | vxa_base vxa_version
link         | link/ text/ base/ Version.h                       | link/drivers/                     | vxa_text vxa_base vxa_version
link/drivers | link/ text/ base/ Version.h                       |                                   | vxa_link vxa_text vxa_base vxa_version
protocol     | protocol/ link/ text/ base/ Version.h             | link/drivers/                     | vxa_link vxa_text vxa_base vxa_version
sim          | sim/ link/ text/ base/ Version.h                  | link/drivers/                     | vxa_sim vxa_link vxa_text vxa_base vxa_version
app/image    | app/image/ protocol/ link/ text/ base/ Version.h  | link/drivers/                     | vxa_protocol vxa_link vxa_text vxa_base vxa_version
app          | app/ protocol/ link/ text/ base/ Version.h        | app/cli/ app/window/ app/win32/ link/drivers/ sim/ | vxa_json vxa_image vxa_protocol vxa_drivers vxa_sim vxa_link vxa_text vxa_base vxa_version
app/cli      | app/ protocol/ link/ text/ base/ Version.h        | app/window/ app/win32/ link/drivers/ sim/ | vxa_json vxa_app vxa_image vxa_protocol vxa_link vxa_text vxa_base vxa_version
app/window   | app/ protocol/ link/ text/ base/ Version.h        | app/cli/ app/win32/ link/drivers/ sim/ | vxa_app vxa_image vxa_protocol vxa_link vxa_text vxa_base vxa_version
app/win32    | app/ protocol/ link/ text/ base/ Version.h        | app/cli/ app/window/ link/drivers/ sim/ | vxa_app vxa_image vxa_protocol vxa_link vxa_text vxa_base vxa_version
'
factory=app/Backend.cpp
ours="base|text|link|protocol|sim|app|tests|bench"

failed=0
offence() {
  echo "layers: $*" >&2
  failed=1
}

starts_with_any() {  # TEXT PREFIX...
  local text=$1 prefix
  shift
  for prefix in "$@"; do
    case $text in "$prefix"*) return 0 ;; esac
  done
  return 1
}

is_one_of() {  # WORD CHOICE...
  local word=$1 choice
  shift
  for choice in "$@"; do
    [ "$word" = "$choice" ] && return 0
  done
  return 1
}

folders=""
while IFS='|' read -r folder includes denied libraries; do
  folder=${folder//[[:space:]]/}
  [ -n "$folder" ] || continue
  folders="$folders $folder"
  for file in "$folder"/*.h "$folder"/*.cpp; do
    [ -e "$file" ] || continue
    # Our own headers are included by their path from the top of the tree, usually in quotes.
    while IFS=: read -r line header; do
      if [ "$file" = $factory ] && starts_with_any "$header" link/drivers/ sim/; then continue; fi
      # shellcheck disable=SC2086
      if ! starts_with_any "$header" $includes || starts_with_any "$header" $denied; then
        offence "$file:$line includes \"$header\", which $folder/ may not"
      fi
    done < <(grep -nE "^[[:space:]]*#[[:space:]]*include[[:space:]]*(\"|<($ours)/)" "$file" |
               sed -E 's/^([0-9]*):[^"<]*["<]([^">]*)[">].*/\1:\2/')
    if [ "$folder" != app/window ]; then
      while IFS=: read -r line _; do
        offence "$file:$line includes Qt, which only app/window/ may"
      done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$file" || true)
    fi
    # Windows' API stays in the Windows window and in the per-platform files below it.
    case $file in
      app/win32/* | *Windows.cpp | base/WindowsText.cpp | link/drivers/ComPort*.cpp) ;;
      *)
        while IFS=: read -r line _; do
          offence "$file:$line includes windows.h, which only app/win32/ and the *Windows.cpp files may"
        done < <(grep -niE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<windows\.h>' "$file" || true)
        ;;
    esac
  done

  cmake=$folder/CMakeLists.txt
  [ -e "$cmake" ] || continue
  for linked in $(tr '\n' ' ' <"$cmake" | grep -oE 'target_link_libraries\([^)]*\)' |
                    grep -oE 'vxa_[a-z0-9_]+' | sort -u); do
    # A target the folder defines itself (its library, its program) is no dependency.
    if grep -qE "vxa_(library|executable)\\($linked([[:space:]]|\$)" "$cmake"; then continue; fi
    # shellcheck disable=SC2086
    if ! is_one_of "$linked" $libraries; then
      offence "$cmake links $linked, which $folder/ may not"
    fi
  done
done <<<"$rules"

# A new folder needs its line in the rules before anything in it is checked.
for dir in $(find base text link protocol sim app -type d | sort); do
  case " $folders " in
    *" $dir "*) ;;
    *) offence "$dir/ has no line in the rules of $0" ;;
  esac
done

if [ $failed = 0 ]; then echo "layers: every folder includes and links only what it may"; fi
exit $failed
