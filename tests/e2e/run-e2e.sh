#!/usr/bin/env bash
# Runs the end-to-end driver under Wine, with what only this side can prepare:
# - as root, a 64 KiB tmpfs at WORKDIR/full that the Wine user owns, so the driver can fill it
#   and give the program a full current directory (the driver itself cannot mount);
# - WORKDIR/readonly, a current directory in which nothing can be created;
# - WORKDIR/locked, a copy of the program in a folder in which nothing can be created;
# - WORKDIR/shots for the dialog pictures, converted to PNG afterwards.
#
#   tests/e2e/run-e2e.sh WORKDIR DRIVER.exe [ARGS...]
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine_run=$repo/tools/wine-run.sh
work=$1
driver=$2
shift 2
wine_user=qmwine

mkdir -p "$work/shots"
rm -f "$work"/shots/*.ppm "$work"/*.png
export QM_E2E_SHOT_DIR=$work/shots
full=$work/full
mkdir -p "$work/readonly"
chmod 0555 "$work/readonly"
export QM_E2E_READONLY_DIR=$work/readonly
# The driver's build puts the program two folders up (build/mingw/tests/e2e → build/mingw).
product=$(dirname "$driver")/../../Quillmarsh.exe
if [[ -e $product ]]; then
  locked=$work/locked
  [[ -d $locked ]] && chmod u+w "$locked"
  rm -rf "$locked"
  mkdir -p "$locked"
  cp "$product" "$locked/Quillmarsh.exe"
  chmod 0555 "$locked"
  chmod 0444 "$locked/Quillmarsh.exe"
  export QM_E2E_LOCKED_DIR=$locked
fi

unmount_full() {
  if mountpoint -q "$full" 2>/dev/null; then
    umount "$full" || umount -l "$full" || true
  fi
}

if ((EUID == 0)); then
  # The Wine user exists once wine-run.sh has run; the prefix is made then too.
  id -u "$wine_user" >/dev/null 2>&1 || "$wine_run" --exec true
  chown "$wine_user:" "$work" "$work/shots"
  mkdir -p "$full"
  unmount_full
  if mount -t tmpfs -o size=64k,mode=0755 tmpfs "$full"; then
    trap unmount_full EXIT
    chown "$wine_user:" "$full"
    export QM_E2E_FULL_DIR=$full
  else
    echo "run-e2e: cannot mount a tmpfs at $full; the full-disk scenario is skipped" >&2
  fi
else
  echo "run-e2e: not root, no tmpfs; the full-disk scenario is skipped" >&2
fi

rc=0
"$wine_run" "$driver" "$@" || rc=$?

# A driver that died mid-run (killed, crashed) leaves the tool stand-ins installed, and may have
# died with exit code 0: a restart that ends every process of the prefix does that.
prefix=${QM_WINEPREFIX:-$repo/build/wine/prefix}
if [[ -e $prefix/drive_c/qm-e2e-backup ]]; then
  echo "run-e2e: the driver died before the end of the suite; putting the prefix's own tools back" >&2
  "$wine_run" "$driver" --restore-prefix || true
  ((rc != 0)) || rc=1
fi

for picture in "$work"/shots/*.ppm; do
  [[ -e $picture ]] || continue
  # No time stamps inside, so that an unchanged dialog gives the same file.
  convert "$picture" -strip -define png:exclude-chunks=date,time \
    "$work/$(basename "${picture%.ppm}").png"
done
exit "$rc"
