#!/usr/bin/env bash
# scripts/release.sh reads the operator's settings file as documented: names
# checked, values taken as written (Chinese, escapes, ;-lists), relative file
# paths from the file's folder, and it never builds into a test build's folder.
#   release_script_test.sh <repository>
set -uo pipefail
root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
release() { bash "$root/scripts/release.sh" "$@" 2>"$work/stderr"; }

dir=$work/运营_settings
mkdir -p "$dir/keys"
touch "$dir/keys/old.pub.pem" "$dir/keys/new.pub.pem" "$dir/codesign.pfx"
printf 'LUMORA_CONFIG_ENDPOINT=https://config.lumora.cn\n' >"$dir/release.conf"
cat >>"$dir/release.conf" <<'CONF'
# the operator's release
  LUMORA_STATISTICS_ENDPOINT = https://stats.lumora.cn:9090

LUMORA_CONFIG_PUBLIC_KEY=keys/old.pub.pem;keys/new.pub.pem
LUMORA_CODESIGN_CERT=codesign.pfx
LUMORA_SUPPORT_TEXT=\n\r请联系客服: 010-1234 5678 (每天 9:00-22:00)
LUMORA_INSTALL_NAME=游戏大厅
LUMORA_BUILD_NUMBER=2026120801
LUMORA_CODESIGN_CA=codesign.pfx
CONF
printf 'LUMORA_UNION_CODE=7\r\n' >>"$dir/release.conf"

if release "$dir/release.conf" --print-settings >"$work/out"; then
  expect=(-DLUMORA_RELEASE=ON
    -DLUMORA_CONFIG_ENDPOINT=https://config.lumora.cn
    -DLUMORA_STATISTICS_ENDPOINT=https://stats.lumora.cn:9090
    "-DLUMORA_CONFIG_PUBLIC_KEY=$dir/keys/old.pub.pem;$dir/keys/new.pub.pem"
    "-DLUMORA_CODESIGN_CERT=$dir/codesign.pfx"
    '-DLUMORA_SUPPORT_TEXT=\n\r请联系客服: 010-1234 5678 (每天 9:00-22:00)'
    -DLUMORA_INSTALL_NAME=游戏大厅
    -DLUMORA_BUILD_NUMBER=2026120801
    "-DLUMORA_CODESIGN_CA=$dir/codesign.pfx"
    -DLUMORA_UNION_CODE=7)
  printf '%s\n' "${expect[@]}" >"$work/expected"
  diff "$work/expected" "$work/out" >"$work/diff" || fail "settings read wrongly: $(cat "$work/diff")"
else
  fail "a good settings file was refused: $(cat "$work/stderr")"
fi

# A misspelt name, a line without "=", a key file that is not there: refused, each named.
printf 'LUMORA_CONFIG_ENDPIONT=https://x.cn\nLUMORA_SERVICE_URL\nLUMORA_CONFIG_PUBLIC_KEY=keys/gone.pem\n' \
  >"$dir/bad.conf"
release "$dir/bad.conf" --print-settings >/dev/null
[ $? -eq 2 ] || fail "a bad settings file was not refused with exit code 2"
grep -q "bad.conf:1: unknown setting 'LUMORA_CONFIG_ENDPIONT'" "$work/stderr" || fail "no word on the misspelt name"
grep -q 'bad.conf:2: not NAME=value' "$work/stderr" || fail "no word on the line without ="
grep -q "bad.conf:3: LUMORA_CONFIG_PUBLIC_KEY: no file $dir/keys/gone.pem" "$work/stderr" ||
  fail "no word on the missing key file"

# The test builds' folders are not a release's.
release "$dir/release.conf" --out "$root/build/x64/release-here" >/dev/null
[ $? -eq 2 ] && grep -q 'test build' "$work/stderr" || fail "a release into build/x64 was not refused"
[ -e "$root/build/x64/release-here" ] && fail "the refused release made its folder in build/x64"

echo "release.sh settings: $failures failure(s)"
[ "$failures" -eq 0 ]
