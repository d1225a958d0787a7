#!/usr/bin/env bash
# Builds Quillmarsh and runs it under Wine in a sandbox that plays a Windows computer.
#
#   tools/run.sh [--windows 7|vista|xp|10] [--reset] [--screenshot FILE]
#
# The sandbox (build/sandbox) is kept between runs, so a second run finds the profile file the
# first one wrote (C:\Quillmarsh\Quillmarsh.ini inside the sandbox). --reset throws it away and
# starts from a fresh Windows 7 computer. --windows picks the generation the program sees
# (remembered until changed).
#
# With a display (DISPLAY set) the dialog opens for you. Without one, the dialog opens on a
# private virtual screen, a PNG screenshot of it is saved (default build/run/quillmarsh.png) once
# it has been drawn, and the dialog is closed with Cancel; no drawn dialog in time is a failure.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sandbox=$repo/build/sandbox
screenshot=$repo/build/run/quillmarsh.png
windows=""
reset=0

while (($#)); do
  case $1 in
  --windows) windows=${2-}; shift 2 ;;
  --reset) reset=1; shift ;;
  --screenshot) screenshot=$(realpath -m "${2-}"); shift 2 ;;
  -h | --help) sed -n '2,13p' "$0"; exit 0 ;;
  *) echo "run.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
done

case $windows in
"") version="" ;;
xp) version=winxp64 ;;
vista) version=vista ;;
7) version=win7 ;;
10) version=win10 ;;
*) echo "run.sh: --windows takes 7, vista, xp or 10" >&2; exit 2 ;;
esac

"$repo/tools/install-deps.sh"
cd "$repo"
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target Quillmarsh

export QM_WINEPREFIX=$sandbox/prefix
wine_run=$repo/tools/wine-run.sh
if ((reset)) && [[ -d $sandbox ]]; then
  "$wine_run" --exec wineserver -k 2>/dev/null || true
  rm -rf "$sandbox"
fi

app_dir=$QM_WINEPREFIX/drive_c/Quillmarsh
if [[ ! -f $sandbox/.seeded ]]; then
  # A computer as Windows 7 leaves it: every feature on, a prefetch layout file in place.
  "$wine_run" --exec mkdir -p "$QM_WINEPREFIX/drive_c/windows/Prefetch" "$app_dir"
  "$wine_run" --exec sh -c "head -c 4096 /dev/urandom > '$QM_WINEPREFIX/drive_c/windows/Prefetch/Layout.ini'"
  "$wine_run" --exec tee "$QM_WINEPREFIX/drive_c/sandbox.reg" >/dev/null <<'REG'
REGEDIT4

[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\OptimalLayout]
"EnableAutoLayout"=dword:00000001
"LayoutFilePath"="C:\\windows\\Prefetch\\Layout.ini"

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\WSearch]
"Start"=dword:00000002

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\cisvc]
"Start"=dword:00000003

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\SysMain]
"Start"=dword:00000002

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Memory Management\PrefetchParameters]
"EnableSuperfetch"=dword:00000003
"EnablePrefetcher"=dword:00000003

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\FileSystem]
"DisableDeleteNotification"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\AppDefaults\Quillmarsh.exe]
"Version"="win7"
REG
  "$wine_run" regedit /S 'C:\sandbox.reg'
  "$wine_run" --exec rm -f "$QM_WINEPREFIX/drive_c/sandbox.reg"
  touch "$sandbox/.seeded"
fi
if [[ -n $version ]]; then
  "$wine_run" reg add 'HKCU\Software\Wine\AppDefaults\Quillmarsh.exe' /v Version /d "$version" /f \
    >/dev/null
fi
"$wine_run" --exec cp "$repo/build/mingw/Quillmarsh.exe" "$app_dir/Quillmarsh.exe"

# The program's current directory is its own folder, where it may write its temporary copy.
cd "$app_dir"
if [[ -n ${DISPLAY-} ]]; then
  exec "$wine_run" 'C:\Quillmarsh\Quillmarsh.exe'
fi

shot_dir=$(dirname "$screenshot")
mkdir -p "$shot_dir"
if ((EUID == 0)); then
  chown qmwine: "$shot_dir"
fi
"$wine_run" --exec bash "$repo/tools/run-headless.sh" "$screenshot"
echo "Screenshot of the dialog: $screenshot"
