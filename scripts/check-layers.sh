#!/usr/bin/env bash
# Fails when a source file includes a header of a folder above its own.
# Folders, bottom to top; a file may include its own folder and the ones below.
#   usage: check-layers.sh [source folder]   (default: src)
set -euo pipefail
root=${1:-"$(dirname "$0")/../src"}
layers=(platform base net feeds downloads transcribe services app)

rank_of() {
  local i
  for i in "${!layers[@]}"; do
    [ "${layers[$i]}" = "$1" ] && { echo "$i"; return; }
  done
  echo -1
}

bad=0
while IFS= read -r -d '' file; do
  rel=${file#"$root"/}
  folder=${rel%%/*}
  [ "$folder" = "$rel" ] && continue    # the executable's own file, above everything
  own=$(rank_of "$folder")
  if [ "$own" -lt 0 ]; then
    echo "$rel: folder '$folder' has no place in the layer order" >&2
    bad=1
    continue
  fi
  while IFS= read -r line; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*/\1/' <<<"$line")
    other=$(rank_of "$target")
    if [ "$other" -gt "$own" ]; then
      echo "$rel: includes $target/, which lies above $folder/: $line" >&2
      bad=1
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' "$file" || true)
done < <(find "$root" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.in' \) -print0)

[ "$bad" -eq 0 ] && echo "layers: every include points down"
exit "$bad"
