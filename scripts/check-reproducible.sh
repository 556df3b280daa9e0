#!/usr/bin/env bash
# Checks that the shipped ZIP is reproducible: builds the i686 release ZIP of
# one commit twice, from two copies of its files in folders of different names
# and lengths (sources, build folder and dependency folder all differ, so a
# path that leaks into the output shows), without a code-signing certificate,
# and compares the two ZIPs and the two symbols ZIPs byte for byte. Run by
# hand; about 20-25 minutes on 2 shared cores (two builds of the shipped
# targets). Exits 0 only when both pairs are identical.
#   check-reproducible.sh [commit]          (default: HEAD; uncommitted changes are not built)
# The copies are built in build/repro/ and removed afterwards unless they differ.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# shellcheck source=lib/progress.sh
. "$root/scripts/lib/progress.sh"
started=$SECONDS

commit=$(git -C "$root" rev-parse --verify "${1:-HEAD}^{commit}")
epoch=$(git -C "$root" show -s --format=%ct "$commit")
if [ -z "${1:-}" ] && [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
  echo "check-reproducible: note: uncommitted changes are not part of the check (it builds $commit)"
fi
"$root/scripts/setup.sh"
deps=${LUMORA_DEPS_CACHE:-$root/.cache/deps}

work=$root/build/repro
rm -rf "$work" && mkdir -p "$work"
names=(first a-second-folder-with-a-longer-name)
zips=()
for name in "${names[@]}"; do
  dir=$work/$name
  mkdir -p "$dir/src"
  git -C "$root" archive "$commit" | tar -x -C "$dir/src"
  ln -s "$deps" "$dir/deps"   # the dependency sources under a path of this copy
  echo "check-reproducible: building $commit in $dir"
  cmake -S "$dir/src" -B "$dir/src/build/x86" -DCMAKE_TOOLCHAIN_FILE="$dir/src/cmake/toolchain-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DLUMORA_DEPS_CACHE="$dir/deps" >"$dir/configure.log" 2>&1 ||
    { cat "$dir/configure.log"; exit 1; }
  # Only the shipped targets: the ZIP holds nothing else. The commit's time
  # gives the entries' time, as in a build from a checkout of it.
  SOURCE_DATE_EPOCH=$epoch run_with_progress "check-reproducible: $name" "$dir/build.log" \
    cmake --build "$dir/src/build/x86" --target release_zip -j"$(nproc 2>/dev/null || echo 2)" ||
    { tail -n 30 "$dir/build.log"; exit 1; }
  zips+=("$(ls "$dir"/src/build/x86/Lumora-*-win32.zip)")
done

same=1
for suffix in .zip -symbols.zip; do
  a=${zips[0]%.zip}$suffix b=${zips[1]%.zip}$suffix
  if cmp -s "$a" "$b"; then
    echo "check-reproducible: IDENTICAL $(basename "$b") ($(stat -c %s "$b") bytes, sha256 $(sha256sum "$b" | cut -d' ' -f1))"
  else
    same=0
    echo "check-reproducible: DIFFERENT $(basename "$b"); entries that differ:"
    python3 - "$a" "$b" <<'PY'
import sys, zipfile
a, b = (zipfile.ZipFile(p) for p in sys.argv[1:3])
names = sorted(set(a.namelist()) | set(b.namelist()))
for n in names:
    if n not in a.namelist() or n not in b.namelist():
        print(f"  {n}: only in one")
        continue
    x, y = a.read(n), b.read(n)
    ia, ib = a.getinfo(n), b.getinfo(n)
    if x != y:
        at = next((i for i in range(min(len(x), len(y))) if x[i] != y[i]), min(len(x), len(y)))
        print(f"  {n}: contents differ from byte {at:#x} ({len(x)} and {len(y)} bytes)")
    elif (ia.date_time, ia.external_attr, ia.extra) != (ib.date_time, ib.external_attr, ib.extra):
        print(f"  {n}: entry details differ")
if a.namelist() == b.namelist() and all(a.read(n) == b.read(n) for n in names):
    print("  (same entries and contents: the archive's own bytes differ)")
PY
  fi
done

# Neither copy's folders, nor the real folder of the dependency sources they
# share (which would not differ between the two), may appear in what ships or
# in its symbols (the shipped files carry the symbols files' CRC).
folders=("${names[@]/#/$work/}" "$(realpath "$deps")")
for zip in "${zips[@]}"; do
  for archive in "$zip" "${zip%.zip}-symbols.zip"; do
    unzip -p "$archive" >"$work/unpacked.bin"
    for folder in "${folders[@]}"; do
      if grep -qaF "$folder" "$work/unpacked.bin"; then
        same=0
        echo "check-reproducible: $archive names the folder $folder"
      fi
    done
  done
done
rm -f "$work/unpacked.bin"

elapsed=$((SECONDS - started))
if [ "$same" -eq 1 ]; then
  rm -rf "$work"
  echo "check-reproducible: OK: two builds of $commit gave identical ZIPs ($((elapsed / 60)) min $((elapsed % 60)) s)"
else
  echo "check-reproducible: FAILED ($((elapsed / 60)) min $((elapsed % 60)) s); the builds stay in $work"
  exit 1
fi
