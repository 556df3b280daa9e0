#!/usr/bin/env bash
# Makes the installer (Setup.exe) of a shipped program folder with NSIS's
# makensis (Debian: nsis) from installer/lumora.nsi; run by the build's
# "installer" target (installer/CMakeLists.txt). Signs the uninstaller inside
# it and the installer itself with the code-signing certificate, when given.
#   make-installer.sh --dist DIR --out FILE --arch x86|amd64 --name TEXT
#       --publisher TEXT --scheme NAME --version-text 2014.04.04.01
#       [--union-code N] [--cert FILE [--key FILE] [--password-file FILE]
#        [--timestamp-url URL] [--ca FILE]]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dist= out= arch= name= publisher= scheme= version_text= union_code=
codesign_cert= codesign_key= codesign_password_file= codesign_timestamp_url= codesign_ca=
while [ $# -gt 0 ]; do
  case $1 in
    --dist) dist=$2 ;;
    --out) out=$2 ;;
    --arch) arch=$2 ;;
    --name) name=$2 ;;
    --publisher) publisher=$2 ;;
    --scheme) scheme=$2 ;;
    --version-text) version_text=$2 ;;
    --union-code) union_code=$2 ;;
    --cert) codesign_cert=$2 ;;
    --key) codesign_key=$2 ;;
    --password-file) codesign_password_file=$2 ;;
    --timestamp-url) codesign_timestamp_url=$2 ;;
    --ca) codesign_ca=$2 ;;
    *) echo "make-installer.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
for need in dist out arch name publisher scheme version_text; do
  [ -n "${!need}" ] || { echo "make-installer.sh: --${need//_/-} is missing" >&2; exit 2; }
done
command -v makensis >/dev/null ||
  { echo "make-installer.sh: makensis is not installed (Debian: nsis; scripts/setup.sh installs it)" >&2; exit 1; }
[ -f "$dist/Lumora.exe" ] || { echo "make-installer.sh: no Lumora.exe in $dist" >&2; exit 1; }

# NSIS strings: a double quote is $\", a dollar $$.
nsis_text() { local t=${1//\$/\$\$}; printf '%s' "${t//\"/\$\\\"}"; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
settings=$work/settings.nsh files=$work/files.nsh unfiles=$work/unfiles.nsh

launch_args=""
[ -n "$union_code" ] && launch_args="{\"UC\":$union_code}"
IFS=. read -r y m d n <<<"$version_text"
{
  printf '!define NAME "%s"\n' "$(nsis_text "$name")"
  printf '!define PUBLISHER "%s"\n' "$(nsis_text "$publisher")"
  printf '!define SCHEME "%s"\n' "$scheme"
  printf '!define LAUNCH_ARGS "%s"\n' "$(nsis_text "$launch_args")"
  printf '!define VERSION_TEXT "%s"\n' "$version_text"
  printf '!define VERSION_FIELDS "%d.%d.%d.%d"\n' "$((10#$y))" "$((10#$m))" "$((10#$d))" "$((10#$n))"
  printf '!define ARCH "%s"\n' "$arch"
  printf '!define OUTFILE "%s"\n' "$(nsis_text "$out")"
} >"$settings"

# The shipped files, folder by folder; removed again in the reverse order,
# deepest folders first, each folder only when it is empty.
: >"$files" && : >"$unfiles"
dist=$(cd "$dist" && pwd)
current=""
while IFS= read -r -d '' rel; do
  folder=$(dirname "$rel")
  if [ "$folder" != "$current" ]; then
    if [ "$folder" = . ]; then echo 'SetOutPath "$INSTDIR"'; else
      echo "SetOutPath \"\$INSTDIR\\$(nsis_text "${folder//\//\\}")\""; fi >>"$files"
    current=$folder
  fi
  echo "File \"$(nsis_text "$dist/$rel")\"" >>"$files"
  echo "Delete \"\$INSTDIR\\$(nsis_text "${rel//\//\\}")\"" >>"$unfiles"
done < <(cd "$dist" && find . -type f -printf '%P\0' | LC_ALL=C sort -z)
(cd "$dist" && find . -mindepth 1 -type d -printf '%P\n' | LC_ALL=C sort -r) | while IFS= read -r rel; do
  echo "RMDir \"\$INSTDIR\\$(nsis_text "${rel//\//\\}")\"" >>"$unfiles"
done

defines=(-DSETTINGS="$settings" -DFILES="$files" -DUNFILES="$unfiles")
signed=0
if [ -n "$codesign_cert" ]; then
  # makensis signs the uninstaller before it packs it, through this command.
  {
    echo '#!/usr/bin/env bash'
    echo 'set -euo pipefail'
    printf '. %q\n' "$root/scripts/lib/codesign.sh"
    printf 'codesign_cert=%q codesign_key=%q codesign_password_file=%q\n' \
      "$codesign_cert" "$codesign_key" "$codesign_password_file"
    printf 'codesign_timestamp_url=%q codesign_ca=%q\n' "$codesign_timestamp_url" "$codesign_ca"
    printf 'codesign_file "$1" %q\n' "$name"
  } >"$work/sign-uninstaller.sh"
  defines+=(-DUNFINALIZE="bash $work/sign-uninstaller.sh \"%1\"")
  signed=1
fi

mkdir -p "$(dirname "$out")"
rm -f "$out"
if ! LC_ALL=C.UTF-8 makensis -V2 -INPUTCHARSET UTF8 "${defines[@]}" "$root/installer/lumora.nsi" \
    >"$work/makensis.log" 2>&1; then
  cat "$work/makensis.log" >&2
  echo "make-installer.sh: makensis failed" >&2
  exit 1
fi
if [ "$signed" = 1 ]; then
  # shellcheck source=lib/codesign.sh
  . "$root/scripts/lib/codesign.sh"
  codesign_file "$out" "$name" || exit 1
  echo "installer: $out ($(( $(stat -c %s "$out") / 1024 )) KiB), signed with $(codesign_subject) (and its uninstaller)"
else
  echo "installer: $out ($(( $(stat -c %s "$out") / 1024 )) KiB), UNSIGNED"
fi
echo "installer: '$name' into Program Files, URL scheme $scheme://, shortcuts ${launch_args:-without arguments}"
