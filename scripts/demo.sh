#!/usr/bin/env bash
# Builds both programs and shows their jobs under a private Wine prefix:
# Typeloader.exe installs the DejaVu fonts with a title, lists what was
# registered and uninstalls; then Typeloader-Deploy.exe, as fleet tools run it
# from a bundle folder, takes one package title through its versions: version
# 1 installed (0, changed) and the Apps & features entry it wrote, /whatif
# before version 2 (one font with new bytes, one dropped), the update (0,
# changed), the same again (0, unchanged), and the uninstall run from the
# entry's QuietUninstallString once the bundle is deleted (0, changed), up to
# the restart (wineboot -r) that deletes the kept program. Each run shows its
# exit code and log records; a run answering another code or word than these
# makes the demo fail. The deploy program is the test bed's link
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
