#!/usr/bin/env bash
# Inside the Wine environment of tools/wine-run.sh --exec: opens Quillmarsh on the virtual
# screen, saves a screenshot of its dialog once it has been drawn, and closes it with Cancel.
# Exits non-zero, saying why and leaving no picture, when no good picture comes in time.
set -euo pipefail
out=$1
find_seconds=60
settle_seconds=15

say() { echo "run-headless: $*" >&2; }

rm -f "$out"
wine 'C:\Quillmarsh\Quillmarsh.exe' &
app=$!
give_up() {
  say "$*"
  kill "$app" 2>/dev/null || true
  exit 1
}

# Wine names the dialog's X window before it maps it, and an unmapped window cannot be read:
# only a visible one will do.
window=$(timeout "$find_seconds" xdotool search --sync --onlyvisible --limit 1 \
  --name '^Quillmarsh$') || give_up "no visible window named Quillmarsh within $find_seconds s"

# A capture counts once it is not blank (one colour: mapped but not painted yet) and the next one
# agrees with it. A failed or blank capture starts the count again.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
previous=$work/previous.png
next=$work/next.png
deadline=$((SECONDS + settle_seconds))
last="no capture"
settled=0
while ((SECONDS < deadline)); do
  if ! import -window "$window" "$next" 2>"$work/import.err"; then
    last="capture failed: $(head -n 1 "$work/import.err")"
    rm -f "$previous"
  elif [[ $(identify -format %k "$next") == 1 ]]; then
    last="blank"
    rm -f "$previous"
  elif [[ -e $previous && $(compare -metric AE "$previous" "$next" null: 2>&1 || true) == 0 ]]; then
    settled=1
    break
  else
    last="still changing"
    mv "$next" "$previous"
  fi
  sleep 0.1
done
((settled)) || give_up "no settled picture of the dialog within $settle_seconds s ($last)"
mv "$next" "$out"

timeout 30 xdotool windowfocus --sync "$window" key Escape ||
  give_up "the dialog did not take the focus for Cancel within 30 s"
timeout 30 tail --pid="$app" -f /dev/null || give_up "the dialog did not close on Cancel within 30 s"
wait "$app"
