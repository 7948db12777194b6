#!/usr/bin/env bash
# Builds Typeloader.exe and shows its whole job under a private Wine prefix:
# install the DejaVu fonts with a title, list what was registered, uninstall.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
E2E_WORK_DIR="$PWD/build/windows/demo" \
TYPELOADER_EXE="$PWD/build/windows/Typeloader.exe" \
TLTEST_EXE="$PWD/build/windows/tests/e2e/tltest.exe" \
  /usr/bin/python3 scripts/demo.py "$@"
