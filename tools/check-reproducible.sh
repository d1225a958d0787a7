#!/usr/bin/env bash
# Builds the current commit twice, from fresh clones in two different folders, one after the
# other and with another time zone and umask, and compares the SHA-256 of both executables
# (Quillmarsh.exe and QuillmarshCli.exe) and of the release zip, which must hold those very
# executables. Exits 1 when anything differs. Uncommitted changes are not part of the check.
set -euo pipefail

exes=(Quillmarsh.exe QuillmarshCli.exe)

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
commit=$(git -C "$repo" rev-parse HEAD)
work=$(mktemp -d "${TMPDIR:-/tmp}/qm-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The zip's dates must come from the commit, as in a developer's build.
unset SOURCE_DATE_EPOCH

if [[ -n $(git -C "$repo" status --porcelain --untracked-files=no) ]]; then
  echo "check-reproducible: uncommitted changes are left out; checking $commit"
fi

# build NAME TZ UMASK: clones into $work/NAME and builds the mingw preset's package there.
build() {
  local src=$work/$1 log=$work/$1.log
  git clone -q --no-checkout "$repo" "$src"
  git -C "$src" checkout -q --detach "$commit"
  if ! (cd "$src" && umask "$3" && export TZ=$2 &&
    cmake --preset mingw -DBUILD_TESTING=OFF &&
    cmake --build --preset mingw --target package) >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    echo "check-reproducible: the build in $src failed" >&2
    return 1
  fi
}

# hashes NAME: prints "sha256  file" for the executables and the zip of build NAME.
hashes() {
  local out=$work/$1/build/mingw
  local zips=("$out"/*-win-x64.zip)
  if ((${#zips[@]} != 1)) || [[ ! -f ${zips[0]} ]]; then
    echo "check-reproducible: build $1 made no single package zip" >&2
    return 1
  fi
  # A zip that missed an executable, or took a stale one, would be reproducible all the same.
  local exe
  for exe in "${exes[@]}"; do
    if ! python3 -c 'import sys, zipfile
sys.exit(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]) != open(sys.argv[3], "rb").read())' \
      "${zips[0]}" "$exe" "$out/$exe" 2>/dev/null; then
      echo "check-reproducible: the zip of build $1 does not hold its $exe" >&2
      return 1
    fi
  done
  (cd "$out" && sha256sum "${exes[@]}" "$(basename "${zips[0]}")")
}

t0=$SECONDS
build first UTC 022
sleep 1
build second-copy Asia/Tokyo 002
first=$(hashes first)
second=$(hashes second-copy)
echo "first build  ($work/first):"
echo "$first" | sed 's/^/  /'
echo "second build ($work/second-copy):"
echo "$second" | sed 's/^/  /'

if [[ $first != "$second" ]]; then
  for exe in "${exes[@]}"; do
    if ! cmp -s "$work"/{first,second-copy}/build/mingw/"$exe"; then
      echo "first differing bytes of $exe (offset, first, second):"
      cmp -l "$work"/{first,second-copy}/build/mingw/"$exe" | head -n 8 || true
    fi
  done
  echo "check-reproducible: FAILED, two builds of $commit differ" >&2
  exit 1
fi
echo "check-reproducible: identical ($((SECONDS - t0)) s)"
