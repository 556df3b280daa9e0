#!/usr/bin/env bash
# Runs every shell block of README.md and docs/*.md that is marked runnable
# (a line "<!-- runnable -->" right before a ```sh block), each in a fresh
# bash from the repository root, so that the commands the documents show keep
# working when pasted. Needs a built x64 tree. Exits non-zero when a block
# fails; prints each block's last lines when it does.
#   check-docs.sh [file...]
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
files=("$@")
[ "${#files[@]}" -eq 0 ] && files=(README.md docs/*.md)

work=$(mktemp -d)
trap 'rm -rf "$work"; WINEPREFIX="$root/build/x64/wineprefix" wineserver -k >/dev/null 2>&1 || true' EXIT

failed=0 count=0
for file in "${files[@]}"; do
  # Split the runnable blocks of the file into numbered scripts.
  awk -v dir="$work" -v base="$(basename "$file" .md)" '
    /^<!-- runnable -->$/ { marked = 1; next }
    marked && /^```sh$/ { n++; out = sprintf("%s/%s.%02d.sh", dir, base, n); inblock = 1; marked = 0; next }
    inblock && /^```$/ { inblock = 0; close(out); next }
    inblock { print > out; next }
    { marked = 0 }
  ' "$file"
done
for block in "$work"/*.sh; do
  [ -f "$block" ] || continue
  count=$((count + 1))
  name=$(basename "$block" .sh)
  start=$(date +%s)
  if timeout 300 bash -e -o pipefail "$block" >"$block.out" 2>&1; then
    echo "docs: ok     $name ($(( $(date +%s) - start )) s)"
  else
    echo "docs: FAILED $name: $(head -n 1 "$block")"
    tail -n 15 "$block.out" | sed 's/^/    /'
    failed=$((failed + 1))
  fi
done
echo "docs: $count runnable block(s), $failed failed"
[ "$failed" -eq 0 ]
