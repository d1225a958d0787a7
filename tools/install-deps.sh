#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, and nothing when all are present.
# Safe to run on every test run: apt is only touched when something is missing.
set -euo pipefail

packages=(
  # host build, unit tests, sanitizers and fuzzing
  cmake ninja-build g++ clang libclang-rt-14-dev googletest python3
  # reading the built executable (tools/check_resources.py)
  python3-pefile
  # Windows cross build (the win32-threads flavour: see cmake/mingw-w64.cmake)
  g++-mingw-w64-x86-64-win32 mingw-w64-tools icoutils
  # running Windows programs headless (wine-run.sh)
  wine wine64 xvfb x11-utils xauth fonts-horai-umefont util-linux passwd
  # Wine in the users' locale (Japanese, code page 932): the glibc locale it is built on
  locales
  # driving and looking at windows
  imagemagick xdotool
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [[ $status == installed ]] || missing+=("$p")
done

# Wine takes its locale from LANG, and only from a locale glibc has been given.
wine_locale=ja_JP.UTF-8
locale_ready() { locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8'; }

if ((${#missing[@]} == 0)) && locale_ready; then
  echo "install-deps: all ${#packages[@]} packages and the $wine_locale locale present"
  exit 0
fi

sudo=()
if ((EUID != 0)); then
  if command -v sudo >/dev/null; then
    sudo=(sudo -n)
  else
    echo "install-deps: missing ${missing[*]} ${wine_locale}; run as root or install sudo" >&2
    exit 1
  fi
fi

if ((${#missing[@]} > 0)); then
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "${missing[@]}"
fi
if ! locale_ready; then
  echo "install-deps: making the $wine_locale locale"
  "${sudo[@]}" localedef -i ja_JP -f UTF-8 "$wine_locale"
fi
