#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix, headless if need be.
#
#   tools/wine-run.sh PROGRAM.exe [ARGS...]      runs `wine PROGRAM.exe ARGS...`
#   tools/wine-run.sh --exec COMMAND [ARGS...]   runs COMMAND in the same environment
#                                                (WINEPREFIX, DISPLAY, ... set; as the Wine user)
# The exit status is the program's. CMake uses this script as CMAKE_CROSSCOMPILING_EMULATOR.
#
# Environment: QM_WINEPREFIX  prefix to use (default <repo>/build/wine/prefix)
#              LANG           always ja_JP.UTF-8 for Wine, whatever the caller has
#              DISPLAY        used when set; otherwise a private Xvfb runs for the call
#
# Why the care below:
# - As root, Wine lets CopyFileW/CreateFileW write over read-only files, hiding the rules the
#   product depends on; so a root caller runs Wine as the unprivileged system user `qmwine`,
#   which owns the prefix.
# - Several calls may overlap (a test driver, ctest -j): the prefix is created once under a lock,
#   callers hold a shared lock while they run, and the last one out stops the prefix's
#   wineserver and the Xvfb it shares.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
prefix=${QM_WINEPREFIX:-$repo/build/wine/prefix}
prefix=$(realpath -m "$prefix")
state=$prefix.run
wine_user=qmwine
# The settings every prefix of the project gets (tests, sandbox, benchmark, screenshots).
# Japanese dialog text needs a Japanese font behind the faces Japanese resources ask for. Ume UI
# Gothic (fonts-horai-umefont) was chosen by measuring Debian's Japanese fonts: its line height
# is the 12 px of the template's font at 9 pt, it has every glyph, and it shows all five two-line
# descriptions of the main dialog whole (Noto Sans CJK JP cut three, IPAPGothic two). Windows 7
# is the version the product is mainly tested against.
setup_reg='REGEDIT4

[HKEY_CURRENT_USER\Software\Wine]
"Version"="win7"

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"MS UI Gothic"="Ume UI Gothic"
"MS Shell Dlg"="Ume UI Gothic"
"MS Shell Dlg 2"="Ume UI Gothic"
'
# Wine draws the caption buttons with glyphs of its Marlett font, which Debian's Wine 8 does not
# find in its own font folder; a copy in the prefix's Fonts folder is found.
wine_fonts=/usr/share/wine/fonts
prefix_fonts=(marlett.ttf)
# A prefix set up with other settings (an older checkout's) gets these applied again.
setup_stamp=$(sha256sum <<<"$setup_reg ${prefix_fonts[*]}" | cut -d' ' -f1)

mode=wine
if [[ ${1-} == --exec ]]; then
  mode='exec'
  shift
fi
if (($# == 0)); then
  echo "usage: $0 PROGRAM.exe [ARGS...] | $0 --exec COMMAND [ARGS...]" >&2
  exit 2
fi

say() { echo "wine-run: $*" >&2; }

export WINEPREFIX=$prefix
export WINEDEBUG=-all
# No Mono/Gecko install prompts on the first run, and none of their cost afterwards.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
# The users run Japanese Windows: code page 932 and Japanese system dialogs. Wine takes both
# from the locale (tools/install-deps.sh makes it); no LC_* variable may override LANG.
export LANG=ja_JP.UTF-8
unset LC_ALL LC_CTYPE LC_MESSAGES LANGUAGE

# Fd 9 holds this call's lock; no child may inherit it (a lingering wineserver would keep it).
run_as() {
  if ((EUID == 0)); then
    setpriv --reuid="$wine_user" --regid="$wine_user" --init-groups \
      env -u XDG_RUNTIME_DIR HOME="$wine_home" USER="$wine_user" LOGNAME="$wine_user" "$@" 9>&-
  else
    "$@" 9>&-
  fi
}

ensure_user() {
  if ! id -u "$wine_user" >/dev/null 2>&1; then
    say "creating system user $wine_user"
    useradd --system --create-home --home-dir "/var/lib/$wine_user" \
      --shell /usr/sbin/nologin "$wine_user" 2>/dev/null || id -u "$wine_user" >/dev/null
  fi
  wine_home=$(getent passwd "$wine_user" | cut -d: -f6)
  if [[ ! -d $wine_home ]]; then
    mkdir -p "$wine_home"
    chown "$wine_user:" "$wine_home"
  fi
}

# The Wine user must be able to walk to the program and the working directory; a checkout
# under /root would otherwise be out of reach. Only the traverse bit is added, never read.
ensure_reachable() {
  local dir=$1 d=""
  local -a parts
  IFS=/ read -ra parts <<<"${dir#/}"
  for p in "${parts[@]}"; do
    [[ -n $p ]] || continue
    d+=/$p
    if ! run_as test -x "$d" && (($(stat -c %a "$d") % 2 == 0)); then
      say "allowing $wine_user to traverse $d (chmod o+x)"
      chmod o+x "$d"
    fi
  done
}

xvfb_pid=""

start_xvfb() {
  rm -f "$state/xvfb.display" "$state/xvfb.pid"
  : >"$state/xvfb.display.new"
  # -displayfd: Xvfb picks a free display itself and writes its number once it accepts
  # connections, so there is neither a race on the number nor a guessed sleep.
  # -ac: the Wine user, not the one who started it, connects.
  setsid Xvfb -displayfd 3 -ac -nolisten tcp -screen 0 1280x1024x24 \
    3>"$state/xvfb.display.new" >"$state/xvfb.log" 2>&1 </dev/null 9>&- &
  xvfb_pid=$!
  local i
  for ((i = 0; i < 400; i++)); do
    if [[ $(cat "$state/xvfb.display.new") == *[0-9]* ]] &&
      [[ $(wc -l <"$state/xvfb.display.new") -ge 1 ]]; then
        break
    fi
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
      say "Xvfb failed to start:"
      cat "$state/xvfb.log" >&2
      exit 1
    fi
    sleep 0.05
  done
  local n
  n=$(tr -dc 0-9 <"$state/xvfb.display.new")
  if [[ -z $n ]]; then
    say "Xvfb did not report a display within 20 s"
    exit 1
  fi
  mv "$state/xvfb.display.new" "$state/xvfb.display"
  echo "$xvfb_pid" >"$state/xvfb.pid"
    export DISPLAY=:$n
}

use_display() {
  [[ -z ${DISPLAY-} ]] || return 0
  local pid
  pid=$(cat "$state/xvfb.pid" 2>/dev/null || true)
  if [[ -n $pid ]] && [[ $(cat "/proc/$pid/comm" 2>/dev/null) == Xvfb ]] &&
    [[ -s $state/xvfb.display ]]; then
    xvfb_pid=$pid
    DISPLAY=:$(tr -dc 0-9 <"$state/xvfb.display")
    export DISPLAY
  else
    start_xvfb
  fi
}

create_prefix() {
  local t0=$SECONDS
  mkdir -p "$prefix"
  if ((EUID == 0)) && [[ $(stat -c %U "$prefix") != "$wine_user" ]]; then
    chown -R "$wine_user:" "$prefix"
  fi
  if [[ ! -f $prefix/system.reg ]]; then
    say "creating Wine prefix $prefix"
    if ! run_as wineboot -i >"$state/wineboot.log" 2>&1; then
      say "wineboot -i failed:"
      cat "$state/wineboot.log" >&2
      exit 1
    fi
  else
    say "applying the project's settings to $prefix"
  fi
  local font
  for font in "${prefix_fonts[@]}"; do
    if [[ -f $wine_fonts/$font ]]; then
      run_as cp "$wine_fonts/$font" "$prefix/drive_c/windows/Fonts/$font"
    fi
  done
  printf '%s' "$setup_reg" | run_as tee "$prefix/drive_c/qm-setup.reg" >/dev/null
  run_as wine regedit /S 'C:\qm-setup.reg' >/dev/null 2>&1
  rm -f "$prefix/drive_c/qm-setup.reg"
  # Let the server write the registry to disk before the prefix is called ready.
  run_as wineserver -w
  echo "$setup_stamp" | run_as tee "$prefix/.qm-setup" >/dev/null
  say "prefix ready in $((SECONDS - t0)) s"
}

child=""
locked=0

# shellcheck disable=SC2317  # called through the EXIT trap
cleanup() {
  local rc=$?
  trap - EXIT
  if [[ -n $child ]] && kill -0 "$child" 2>/dev/null; then
    kill -TERM "$child" 2>/dev/null || true
  fi
  # Last one out (nobody else holds the shared lock): stop the prefix and the shared Xvfb.
  if ((locked)) && flock -xn 9; then
    if [[ -d $prefix ]]; then
      run_as wineserver -k >/dev/null 2>&1 || true
    fi
    local pid
    pid=$(cat "$state/xvfb.pid" 2>/dev/null || true)
    if [[ -n $pid ]] && [[ $(cat "/proc/$pid/comm" 2>/dev/null) == Xvfb ]]; then
      kill "$pid" 2>/dev/null || true
    fi
    rm -f "$state/xvfb.pid" "$state/xvfb.display"
  fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

mkdir -p "$state"
exec 9>"$state/lock"
flock -x 9
locked=1

if ((EUID == 0)); then
  ensure_user
  ensure_reachable "$PWD"
  if [[ $mode == wine && -e $1 ]]; then
    ensure_reachable "$(dirname "$(realpath "$1")")"
  fi
fi

use_display

if [[ $(cat "$prefix/.qm-setup" 2>/dev/null) != "$setup_stamp" ]]; then
  create_prefix
fi

# Run with the others; conversion to shared lets them in while this call runs.
flock -s 9

if [[ $mode == wine ]]; then
  run_as wine "$@" <&0 &
else
  run_as "$@" <&0 &
fi
child=$!
rc=0
wait "$child" || rc=$?
child=""
exit "$rc"
