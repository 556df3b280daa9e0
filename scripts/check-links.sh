#!/usr/bin/env bash
# Checks that README.md and docs/*.md stand on the repository alone: every
# relative link names a file or folder of the repository, and no document
# points at notes outside it (a path above the repository root, an absolute
# path of a work machine). Needs no build.
# Exits non-zero and names file and line for each fault.
#   check-links.sh [file...]
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
files=("$@")
[ "${#files[@]}" -eq 0 ] && files=(README.md docs/*.md)

faults=0 links=0
for file in "${files[@]}"; do
  dir=$(dirname "$file")
  # Markdown links and pictures, ](target) with an optional #anchor, outside
  # code spans.
  while IFS=: read -r line target; do
    case "$target" in
      http://*|https://*|mailto:*|'#'*) continue ;;
    esac
    links=$((links + 1))
    path=${target%%#*}
    resolved=$(realpath -m "$dir/$path")
    case "$resolved" in
      "$root"|"$root"/*) ;;
      *) echo "links: $file:$line: '$target' leaves the repository"; faults=$((faults + 1)); continue ;;
    esac
    if [ ! -e "$resolved" ]; then
      echo "links: $file:$line: '$target' does not exist"
      faults=$((faults + 1))
    fi
  done < <(sed 's/`[^`]*`//g' "$file" | grep -no '\](\([^)]*\))' | sed 's/\](\(.*\))$/\1/')
  # Paths outside the repository, named in the text: one that starts above
  # the root ("../notes/..."), or a work machine's own folder.
  while IFS= read -r hit; do
    echo "links: $file:${hit%%:*}: names a file outside the repository: ${hit#*:}"
    faults=$((faults + 1))
  done < <(grep -nE '(^|[^.[:alnum:]_/])\.\./[[:alnum:]_]|/work/' "$file")
done
echo "links: ${#files[@]} document(s), $links relative link(s), $faults fault(s)"
[ "$faults" -eq 0 ]
