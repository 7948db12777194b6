#!/usr/bin/env bash
# Installs what building and testing need on Debian; does nothing when all is there.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev
  g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
  wine wine64 python3-pytest python3-fonttools python3-pefile python3-yaml fonts-dejavu-core
  osslsigncode openssl git
  ansible  # ansible-playbook and the ansible.windows collection: the playbook's syntax check and check-mode run
  ansible-lint  # the playbook's lint
  python3-debian  # debian.copyright: the notices read the toolchain's copyright files
  reprotest diffoscope faketime disorderfs  # check-reproducible.sh: vary the build, explain a difference
  stress-ng python3-pytest-repeat  # repeat-e2e.sh: load and repeats
  time  # bench/deploy.py: peak memory
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
