#!/usr/bin/env bash
# Builds everything and runs every test: host unit tests (plain and under
# sanitizers), the bounded fuzz runs, and the Windows build with its
# end-to-end tests under a private Wine prefix.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake --preset host
cmake --build --preset host
ctest --preset host

cmake --preset host-asan
cmake --build --preset host-asan
ctest --preset host-asan

bash tests/fuzz/run.sh

cmake --preset windows
cmake --build --preset windows
ctest --preset windows

# A build varied by reprotest must give the same Typeloader.exe.
sh scripts/check-reproducible.sh
