#!/usr/bin/env bash
# Builds the Windows program and the end-to-end driver, opens the main dialog on Windows 7 under
# Wine (the smoke scenario of tests/e2e) and stores its picture as docs/screenshot-win7.png.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
cmake --preset mingw >/dev/null
cmake --build --preset mingw --target qm_e2e_test
tests/e2e/run-e2e.sh build/e2e build/mingw/tests/e2e/qm_e2e_test.exe \
  --gtest_filter=E2e.DialogOpensWithItsControlsFocusAndAboutBox --gtest_color=no
mkdir -p docs
cp build/e2e/dialog-win7.png docs/screenshot-win7.png
echo "docs/screenshot-win7.png written"
