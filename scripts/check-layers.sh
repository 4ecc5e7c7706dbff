#!/usr/bin/env bash
# Fails when a folder includes a header of a higher layer. Dependencies run one way; the layers,
# lowest first:
#   platform < text < base < ui (with ui/qt, ui/script, ui/terminal) < installer, records, net < setup
# installer, records and net share one rank and may include one another. tools/, tests/, fuzz/
# and bench/ stand above all of them and may include anything, but nothing includes them.
# data/ holds generated tables that any folder may include. Inside ui/, the dialog model and the
# prompts (the files directly in ui/) include no back end (ui/qt, ui/script, ui/terminal).
# Usage: check-layers.sh [PROJECT_ROOT]   (default: the folder above this script)
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}

rank() {
  case $1 in
    data) echo -1 ;;
    platform) echo 0 ;;
    text) echo 1 ;;
    base) echo 2 ;;
    ui) echo 3 ;;
    installer | records | net) echo 4 ;;
    setup) echo 5 ;;
    tools | tests | fuzz | bench) echo 9 ;;
    *) echo "" ;;
  esac
}

status=0
checked=0
for folder in platform text base ui installer records net setup; do
  [ -d "$root/$folder" ] || { echo "check-layers: $root/$folder is missing" >&2; exit 2; }
  own=$(rank "$folder")
  while IFS= read -r hit; do
    file=${hit%%:*}
    rest=${hit#*:}
    line=${rest%%:*}
    target=$(sed -E 's/^[^"]*"([^"/]+)\/.*/\1/' <<<"${rest#*:}")
    their=$(rank "$target")
    checked=$((checked + 1))
    if [ -z "$their" ]; then
      echo "${file#"$root"/}:$line: includes $target/, a folder the layer table does not know"
      status=1
    elif [ "$their" -gt "$own" ]; then
      echo "${file#"$root"/}:$line: $folder/ includes $target/, a higher layer"
      status=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[^"/]+/' "$root/$folder" \
             --include='*.h' --include='*.cc' --include='*.inc' || true)
done

while IFS= read -r hit; do
  file=${hit%%:*}
  rest=${hit#*:}
  echo "${file#"$root"/}:${rest%%:*}: the generic ui/ code includes a back end"
  status=1
done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"ui/(qt|script|terminal)/' \
           "$root"/ui/*.h "$root"/ui/*.cc || true)

if [ "$status" -eq 0 ]; then
  echo "check-layers: $checked includes, none from a lower layer to a higher one"
fi
exit "$status"
