#!/usr/bin/env bash
# Inside the Wine environment of tools/wine-run.sh --exec: opens Quillmarsh on the virtual
# screen, saves a screenshot of its dialog once it has been drawn, and closes it with Cancel.
set -euo pipefail
out=$1

wine 'C:\Quillmarsh\Quillmarsh.exe' &
app=$!
window=$(timeout 60 xdotool search --sync --limit 1 --name '^Quillmarsh$')

# Drawn once two screenshots in a row are the same.
previous=$(mktemp --suffix=.png)
trap 'rm -f "$previous"' EXIT
import -window "$window" "$previous"
for _ in $(seq 50); do
  import -window "$window" "$out"
  if [[ $(compare -metric AE "$previous" "$out" null: 2>&1 || true) == 0 ]]; then
    break
  fi
  cp "$out" "$previous"
done

xdotool windowfocus --sync "$window" key Escape
timeout 30 tail --pid="$app" -f /dev/null
wait "$app"
