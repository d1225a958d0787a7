#!/usr/bin/env bash
# Measures the product against a bare dialog floor, and the console program against a console
# program that only starts and ends, under Wine + Xvfb (see README, Performance).
#   bench/run.sh [--product EXE] [--floor EXE] [RUNS]
#     RUNS measured runs per program (default 31), medians printed; --product and --floor measure
#     another build of Quillmarsh.exe or of bare_dialog.exe (an older commit's, say) in the same
#     prefix, for a before/after.
# Builds what it needs in the mingw preset and uses its own Wine prefix (build/bench/prefix,
# or $QM_WINEPREFIX), with a recording stand-in for fsutil.exe so OK runs no disk tool.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
product=$repo/build/mingw/Quillmarsh.exe
floor=$repo/build/mingw/bench/bare_dialog.exe
while [[ ${1-} == --product || ${1-} == --floor ]]; do
  if [[ $1 == --product ]]; then product=$(realpath "$2"); else floor=$(realpath "$2"); fi
  shift 2
done
runs=${1:-31}
out=$repo/build/bench
export QM_WINEPREFIX=${QM_WINEPREFIX:-$out/prefix}

cmake --preset mingw >/dev/null
cmake --build --preset mingw --target Quillmarsh qm_bare_dialog qm_bench_probe qm_fake_fsutil \
  qm_bench_startup_parts QuillmarshCli qm_floor_console qm_floor_console_advapi32

# The programs run from a folder of their own: the product writes its profile file beside it.
mkdir -p "$out/app"
cp "$product" "$out/app/Quillmarsh.exe"
cp "$floor" "$out/app/bare_dialog.exe"
cp build/mingw/bench/probe.exe build/mingw/bench/fsutil.exe build/mingw/bench/startup_parts.exe \
  build/mingw/QuillmarshCli.exe build/mingw/bench/floor_console.exe \
  build/mingw/bench/floor_console_advapi32.exe "$out/app/"
chmod a+rX "$out" "$out/app"
chmod a+r "$out"/app/*

# The stand-in replaces the prefix's fsutil.exe; Wine uses it once told to prefer native.
tools/wine-run.sh --exec bash -c '
  set -e
  cp "$1" "$WINEPREFIX/drive_c/windows/system32/fsutil.exe"
  wine reg add "HKCU\\Software\\Wine\\DllOverrides" /v fsutil.exe /d native /f >/dev/null 2>&1
  rm -f "$WINEPREFIX/drive_c/fsutil-calls.txt"
  wineserver -w
' bash "$out/app/fsutil.exe"

# The product keeps its profile file beside it, as it does on a user's machine: the warm-up run
# writes it and the measured runs read it.
if ((EUID == 0)); then
  chown -R qmwine: "$out/app"
fi

app='Z:'"${out//\//\\}"'\app'
result=$(tools/wine-run.sh "$out/app/probe.exe" "$runs" "$app\Quillmarsh.exe" "$app\bare_dialog.exe")
# The dialog's OK launches the tool once a run; counted before the console runs add theirs.
launches=$(tools/wine-run.sh --exec bash -c 'cat "$WINEPREFIX/drive_c/fsutil-calls.txt" 2>/dev/null' |
  iconv -f UTF-16LE -t UTF-8 2>/dev/null | grep -c DisableDeleteNotify || true)
# The console program: /status, and a run that finds everything as asked (the probe's warm-up
# run applies it first), each round beside the floor and the floor that also loads ADVAPI32.dll.
as_asked='/AutoDefrag:off /Index:off /SuperFetch:off /PreFetch:off /Trim:off'
console=$(tools/wine-run.sh "$out/app/probe.exe" --console "$runs" "$app\floor_console.exe" \
  "$app\QuillmarshCli.exe|/status" "$app\QuillmarshCli.exe|$as_asked" \
  "$app\floor_console_advapi32.exe|" | tr -d '\r')
printf '%s\n%s\n' "$result" "$console" >"$out/last-run.txt"

prefix=$(realpath -m "$QM_WINEPREFIX")
size=$(stat -c %s "$product")
cli_size=$(stat -c %s "$out/app/QuillmarshCli.exe")

awk -v runs="$runs" -v size="$size" -v launches="$launches" '
  $1 == "product" { ps = $3; po = $5; pm = $7 }
  $1 == "bare"    { bs = $3; bo = $5; bm = $7 }
  $1 == "pair_ratio" { rm = $3; r1 = $5; r3 = $7 }
  END {
    printf "Quillmarsh benchmark: median of %d runs each (Wine, Xvfb)\n", runs
    printf "  %-34s %10s %10s %8s\n", "", "Quillmarsh", "floor", "ratio"
    printf "  %-34s %10.1f %10.1f %7.2fx\n", "start-up to dialog with radios (ms)", ps, bs, ps / bs
    printf "  %-34s %10s %10s %7.2fx (quartiles %.2fx-%.2fx)\n", "  start-up, per-round ratio", "", "", rm, r1, r3
    printf "  %-34s %10.1f %10.1f %7.2fx\n", "OK to restart question (ms) [1]", po, bo, po / bo
    printf "  %-34s %10.0f %10.0f %7.2fx\n", "peak working set (KiB)", pm, bm, pm / bm
    printf "  %-34s %10d bytes (%.1f KiB)\n", "Quillmarsh.exe size", size, size / 1024
    printf "  fsutil stand-in launches recorded: %d\n", launches
    printf "  [1] floor: the bare dialog from OK until its window is hidden (EndDialog)\n"
  }' <<<"$result"
awk -v size="$cli_size" '
  $1 == "console_floor" { floor = $3 }
  $1 == "console_run" {
    command = $0; sub(/.* command /, "", command)
    n++; ms[n] = $3; ratio[n] = $5; q1[n] = $7; q3[n] = $9
    label[n] = command ~ /advapi32/ ? "floor + ADVAPI32.dll (ms) [2]" : \
      command ~ /\|\/status$/ ? "/status (ms)" : "everything already as asked (ms) [3]"
    if (command !~ /advapi32|status$/) { asked = command; sub(/.*\|/, "", asked) }
  }
  END {
    printf "QuillmarshCli.exe: process creation to end, no console window, output to NUL\n"
    printf "  %-34s %10s %10s %8s\n", "", "program", "floor", "ratio"
    for (i = 1; i <= n; i++) {
      printf "  %-34s %10.1f %10.1f %7.2fx\n", label[i], ms[i], floor, ms[i] / floor
      printf "  %-34s %10s %10s %7.2fx (quartiles %.2fx-%.2fx)\n", "  per-round ratio", "", "", ratio[i], q1[i], q3[i]
    }
    printf "  %-34s %10d bytes (%.1f KiB)\n", "QuillmarshCli.exe size", size, size / 1024
    printf "  [2] the floor with the program'"'"'s one DLL import more, which Wine loads at a cost\n"
    printf "  [3] %s\n", asked
  }' <<<"$console"
echo "engine steps before the dialog shows, and the console program's (mean per call, this prefix):"
tools/wine-run.sh "$out/app/startup_parts.exe" | sed 's/^/  /'
echo "raw samples: $out/last-run.txt (prefix $prefix)"
