#!/usr/bin/env bash
# The one test command (README, CI): installs what is missing, then configures, builds and tests
# the host preset (unit tests on the simulated machine, sanitizers), the fuzz preset (each
# libFuzzer target for a bounded time) and the mingw preset (the Windows build, its tests under
# Wine), then checks that two clean builds give the same executable and package. Stops at the
# first failure.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"

summary=()
current=""
started=$SECONDS

report() {
  local rc=$?
  trap - EXIT
  echo
  echo "==== test-all summary ===="
  local line
  for line in "${summary[@]}"; do echo "  $line"; done
  if ((rc != 0)); then
    echo "  FAILED: ${current:-setup} (exit $rc)"
  else
    echo "  all steps passed in $((SECONDS - started)) s"
  fi
  exit "$rc"
}
trap report EXIT

step() {
  current=$1
  shift
  echo
  echo "==== $current ===="
  local t0=$SECONDS
  "$@"
  summary+=("ok  $current ($((SECONDS - t0)) s)")
}

step "install dependencies" tools/install-deps.sh
for preset in host fuzz mingw; do
  step "$preset: configure" cmake --preset "$preset"
  step "$preset: build" cmake --build --preset "$preset"
  step "$preset: test" ctest --preset "$preset"
done
step "reproducible build" tools/check-reproducible.sh
