#!/usr/bin/env bash
# Builds the Windows program and the end-to-end driver and takes the pictures under docs/ with
# the scenarios of tests/e2e that open these windows, in the tests' Wine prefix:
#   docs/screenshot-win7.png          the main dialog on Windows 7
#   docs/screenshot-xp.png            the main dialog on the XP generation
#   docs/screenshot-about.png         the About box
#   docs/screenshot-restart.png       the restart question after OK
#   docs/screenshot-not-changed.png   the message after OK naming what could not be changed
#   docs/screenshot-no-snapshot.png   OK's question when no snapshot of the first settings was saved
#   docs/screenshot-win7-144dpi.png   the main dialog on Windows 7 at 144 DPI (150 %)
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
"$repo/tools/install-deps.sh"
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target qm_e2e_test

driver=build/mingw/tests/e2e/qm_e2e_test.exe
wine_run=$repo/tools/wine-run.sh
run_scenarios() {
  local work=$1 filter=$2
  tests/e2e/run-e2e.sh "$work" "$driver" --gtest_filter="$filter" --gtest_color=no
}

run_scenarios build/e2e 'E2e.DialogOpensWithItsControlsFocusAndAboutBox:E2e.AllOffOnXpWritesOnlyItsValues:E2e.AllOffOnWindows7WritesEverythingAndRunsTheTool:E2e.SettingsThatDidNotTakeAreNamedBeforeTheRestartQuestion:E2e.WithoutASnapshotOkAsksFirstAndNoChangesNothing'

# Wine takes the screen resolution from this value (it wins over the machine-wide one) when a
# program starts. The tests expect 96 DPI, so the value is put back as it was, even after a
# failure.
desktop='HKCU\Control Panel\Desktop'
old_dpi=$("$wine_run" --exec wine reg query "$desktop" /v LogPixels 2>/dev/null |
  tr -d '\r' | awk '$1 == "LogPixels" { print $3 }' || true)
# Sets LogPixels, or removes it when given nothing.
set_dpi() {
  # shellcheck disable=SC2016  # expanded by the inner shell
  "$wine_run" --exec bash -c '
    if [[ -n $2 ]]; then
      wine reg add "$1" /v LogPixels /t REG_DWORD /d "$2" /f >/dev/null
    else
      wine reg delete "$1" /v LogPixels /f >/dev/null 2>&1 || true
    fi
    wineserver -w' bash "$desktop" "${1-}"
}
restore_dpi() { set_dpi "${old_dpi:+$((old_dpi))}"; }
trap restore_dpi EXIT
set_dpi 144
run_scenarios build/e2e-144dpi E2e.DialogOpensWithItsControlsFocusAndAboutBox
trap - EXIT
restore_dpi

mkdir -p docs
cp build/e2e/dialog-win7.png docs/screenshot-win7.png
cp build/e2e/dialog-winxp64.png docs/screenshot-xp.png
cp build/e2e/about.png docs/screenshot-about.png
cp build/e2e/restart.png docs/screenshot-restart.png
cp build/e2e/not-changed.png docs/screenshot-not-changed.png
cp build/e2e/no-snapshot.png docs/screenshot-no-snapshot.png
cp build/e2e-144dpi/dialog-win7.png docs/screenshot-win7-144dpi.png
echo "written: docs/screenshot-{win7,xp,about,restart,not-changed,no-snapshot,win7-144dpi}.png"
