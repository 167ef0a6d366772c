#!/usr/bin/env bash
# Fails when a shipped binary holds the name of a test-only variable: the
# project's own KELCALIB_* environment variables (the planted system root,
# the virtual controller's settings), which only test builds read. Each
# argument is a program, or a .deb or .zip whose every file is looked at.
#
#   scripts/check-no-test-seams.sh FILE...
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: check-no-test-seams.sh FILE..." >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
n=0
# look FILE SHOWN: the names in FILE's 8-bit and UTF-16 strings.
look() {
  local names
  names=$( { strings -a -n 8 "$1"; strings -a -n 8 -e l "$1"; } | grep -oE 'KELCALIB_[A-Z0-9_]+' | sort -u | tr '\n' ' ' || true)
  if [ -n "$names" ]; then
    echo "check-no-test-seams: $2 holds test-only variable names: $names" >&2
    status=1
  fi
}
for file in "$@"; do
  [ -f "$file" ] || { echo "check-no-test-seams: no file $file" >&2; exit 2; }
  case $file in
    *.deb|*.zip)
      n=$((n + 1))
      dir=$work/$n
      mkdir -p "$dir"
      if [ "${file##*.}" = deb ]; then dpkg-deb -x "$file" "$dir"; else python3 -m zipfile -e "$file" "$dir"; fi
      while IFS= read -r -d '' inner; do
        look "$inner" "$file:${inner#"$dir"/}"
      done < <(find "$dir" -type f -print0 | sort -z)
      ;;
    *) look "$file" "$file" ;;
  esac
done
exit $status
