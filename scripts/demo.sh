#!/usr/bin/env bash
# Builds both programs and shows their jobs under a private Wine prefix:
# Typeloader.exe installs the DejaVu fonts with a title, lists what was
# registered and uninstalls; then Typeloader-Deploy.exe, as fleet tools run it,
# installs (0, changed), installs again (0, unchanged) and uninstalls (0),
# each with its log records. The deploy program is the test bed's link
# (tests/e2e/wine_account.cpp): the shipped one refuses every file under Wine,
# where they all belong to the account running it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
E2E_WORK_DIR="$PWD/build/windows/demo" \
TYPELOADER_EXE="$PWD/build/windows/Typeloader.exe" \
TYPELOADER_DEPLOY_EXE="$PWD/build/windows/tests/e2e/wine-account/Typeloader-Deploy.exe" \
TLTEST_EXE="$PWD/build/windows/tests/e2e/tltest.exe" \
  /usr/bin/python3 scripts/demo.py "$@"
