#!/usr/bin/env bash
# Builds a release of the operator's own from a settings file, into a build
# folder of its own (never build/x64 or build/x86, which the tests use):
#   <out>/x86  the shipped i686 build: Lumora-<version>-win32.zip (and its
#              symbols ZIP) and Lumora-<version>-win32-Setup.exe
#   <out>/x64  with --try: the x86_64 build of the same settings, to run here
#              under Wine against the operator's site:
#              bash scripts/run.sh --build <out>/x64 Lumora
# It prints what went in (each endpoint, each key id, signed or not, the
# version) and refuses a release whose launcher has no key, an http endpoint
# or a loopback or placeholder address, unless the settings say
# LUMORA_DEVELOPMENT_BUILD=ON (then it says DEVELOPMENT BUILD, loudly).
#   release.sh <settings file> [--out <folder>] [--try] [--print-settings]
# The settings file: one NAME=value per line (blanks around both are
# dropped, the value is taken as it is up to the end of the line, without
# quotes); "#" starts a comment line. NAME is one of the build's settings
# (docs/publishing.md, "The release build"). Relative file paths are taken
# from the settings file's folder. Default <out>: build/release/<name of the
# settings file without its extension>. --print-settings only prints the
# CMake settings the file gives, one per line.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)
# shellcheck source=lib/progress.sh
. "$root/scripts/lib/progress.sh"

usage() { sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
settings_file="" out="" try=0 print_only=0
while [ $# -gt 0 ]; do
  case $1 in
    --out) out=${2:?}; shift 2 ;;
    --try) try=1; shift ;;
    --print-settings) print_only=1; shift ;;
    -h|--help) usage ;;
    --*) echo "release.sh: unknown option $1" >&2; usage ;;
    *) [ -z "$settings_file" ] || usage; settings_file=$1; shift ;;
  esac
done
[ -n "$settings_file" ] || usage
[ -f "$settings_file" ] || { echo "release.sh: no settings file $settings_file" >&2; exit 2; }
settings_dir=$(cd "$(dirname "$settings_file")" && pwd)

# The settings a release may give; the ones naming files (a ;-list for keys).
known=" LUMORA_CONFIG_ENDPOINT LUMORA_STATISTICS_ENDPOINT LUMORA_SERVICE_URL LUMORA_CRASH_RECIPIENT
  LUMORA_CONFIG_PUBLIC_KEY LUMORA_CODESIGN_CERT LUMORA_CODESIGN_KEY LUMORA_CODESIGN_PASSWORD_FILE
  LUMORA_CODESIGN_TIMESTAMP_URL LUMORA_CODESIGN_CA LUMORA_SUPPORT_TEXT LUMORA_BUILD_NUMBER
  LUMORA_INSTALL_NAME LUMORA_PUBLISHER LUMORA_URL_SCHEME LUMORA_UNION_CODE LUMORA_DEVELOPMENT_BUILD "
files=" LUMORA_CONFIG_PUBLIC_KEY LUMORA_CODESIGN_CERT LUMORA_CODESIGN_KEY LUMORA_CODESIGN_PASSWORD_FILE
  LUMORA_CODESIGN_CA "
known=" $(echo $known) " files=" $(echo $files) "  # one blank between names

absolute() {  # <path>: from the settings file's folder
  case $1 in /*) printf '%s' "$1" ;; *) printf '%s' "$settings_dir/$1" ;; esac
}

defines=(-DLUMORA_RELEASE=ON)
line_number=0 problems=0
while IFS= read -r line || [ -n "$line" ]; do
  line_number=$((line_number + 1))
  line=${line%$'\r'}
  trimmed=${line#"${line%%[![:space:]]*}"}
  case $trimmed in '' | '#'*) continue ;; esac
  if [[ $trimmed != *=* ]]; then
    echo "release.sh: $settings_file:$line_number: not NAME=value: $line" >&2; problems=1; continue
  fi
  name=${trimmed%%=*} value=${trimmed#*=}
  name=${name%"${name##*[![:space:]]}"}
  value=${value#"${value%%[![:space:]]*}"}
  value=${value%"${value##*[![:space:]]}"}
  if [[ $known != *" $name "* ]]; then
    echo "release.sh: $settings_file:$line_number: unknown setting '$name'" >&2; problems=1; continue
  fi
  if [[ $files == *" $name "* ]] && [ -n "$value" ]; then
    list="" IFS_saved=$IFS
    IFS=';'
    for path in $value; do
      [ -n "$path" ] || continue
      path=$(absolute "$path")
      [ -f "$path" ] || { echo "release.sh: $settings_file:$line_number: $name: no file $path" >&2; problems=1; }
      list+=${list:+;}$path
    done
    IFS=$IFS_saved
    value=$list
  fi
  defines+=("-D$name=$value")
done <"$settings_file"
[ "$problems" = 0 ] || exit 2

if [ "$print_only" = 1 ]; then
  printf '%s\n' "${defines[@]}"
  exit 0
fi

name=$(basename "$settings_file") && name=${name%.*}
out=${out:-$root/build/release/$name}
out=$(realpath -m "$out")
case $out/ in "$root/build/x64/"* | "$root/build/x86/"*)
  echo "release.sh: $out is a test build's folder; choose another --out" >&2; exit 2 ;;
esac
mkdir -p "$out"

build_one() {  # <folder name> <toolchain> <target>...
  local dir=$out/$1 toolchain=$2
  shift 2
  mkdir -p "$dir"
  # The settings file and nothing else: no value stays from an earlier run.
  rm -f "$dir/CMakeCache.txt"
  echo "release: configuring $dir"
  if ! cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
      -DCMAKE_BUILD_TYPE=Release "${defines[@]}" >"$dir.configure.log" 2>&1; then
    # The refusal of a release not fit for players comes from here.
    sed -n '/CMake Error/,$p' "$dir.configure.log" | grep -v '^-- ' >&2
    echo "release: FAILED to configure; the whole output is in $dir.configure.log" >&2
    return 1
  fi
  echo "release: building $dir ($*; the first build takes some minutes)"
  run_with_progress "release $(basename "$dir")" "$dir.build.log" \
    cmake --build "$dir" -j"$jobs" --target "$@" -- --no-print-directory ||
    { grep -E 'error|Error' "$dir.build.log" | head -n 20 >&2;
      echo "release: FAILED to build; the whole output is in $dir.build.log" >&2; return 1; }
  grep -E 'warning:' "$dir.build.log" || true
}

build_one x86 toolchain-i686.cmake installer  # the shipped folder, its ZIP, the installer
if [ "$try" = 1 ]; then
  build_one x64 toolchain-x86_64.cmake dist run_program root_cert
fi

echo "release: what went in"
sed 's/^/release: /' "$out/x86/release-summary.txt"
grep -E '^dist: (signed|UNSIGNED)' "$out/x86.build.log" | sed 's/^dist:/release:/'
grep -E '^installer: .*(signed|UNSIGNED)' "$out/x86.build.log" | sed 's/^installer:/release: installer/'
if grep -q 'DEVELOPMENT BUILD' "$out/x86/release-summary.txt"; then
  echo "release: ******************************************************************"
  echo "release: *** DEVELOPMENT BUILD: NOT FOR PLAYERS (LUMORA_DEVELOPMENT_BUILD) ***"
  echo "release: ******************************************************************"
fi
echo "release: shipped artifacts:"
ls -1 "$out"/x86/Lumora-*-win32.zip "$out"/x86/Lumora-*-win32-symbols.zip \
  "$out"/x86/Lumora-*-win32-Setup.exe | sed 's/^/release:   /'
if [ "$try" = 1 ]; then
  echo "release: to try it here (x86_64 build of the same settings):"
  echo "release:   bash scripts/run.sh --build $out/x64 Lumora"
fi
