#!/bin/sh
# reprotest builds Typeloader.exe and Typeloader-Deploy.exe twice from the
# tracked files, the second time with the build varied (path, environment,
# time, locale, time zone, umask, kernel personality, CPUs, file order, host
# name, home, PATH), and diffoscope explains any difference. Prints the Debian
# packages of the toolchain and each exe's SHA-256; when the toolchain is the
# one the README records, each hash must be the README's too, so that the
# recorded release build stays rebuildable. Run from the repository root.
set -eu

# The packages whose files go into the exes: compilers and their runtime
# libraries, the mingw-w64 headers, start-up code and import libraries, and
# binutils (assembler, linker, resource compiler).
toolchain_packages="g++-mingw-w64-x86-64-win32 gcc-mingw-w64-x86-64-win32
gcc-mingw-w64-x86-64-win32-runtime gcc-mingw-w64-base mingw-w64-x86-64-dev
binutils-mingw-w64-x86-64"

toolchain_table() {
    for package in $toolchain_packages; do
        version=$(dpkg-query -W -f='${Version}' "$package" 2>/dev/null || echo "not installed")
        echo "| $package | $version |"
    done
}

repo=$(pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/typeloader-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/src"
git ls-files -z | tar --null -T - -cf - | tar -C "$work/src" -xf -

# Every variation but user_group, which needs a second user and sudo (domain_host
# does without sudo here, through a user namespace).
status=0
reprotest --verbosity 0 --variations=+all,-user_group --store-dir "$work/out" \
    -c 'cmake --preset windows >/dev/null && cmake --build --preset windows --target Typeloader Typeloader-Deploy -j 2 >/dev/null' \
    "$work/src" 'build/windows/Typeloader*.exe' || status=1

echo "check-reproducible: toolchain"
toolchain_table
# The README's record: the same table lines, then each hash in backquotes.
recorded_table=$(grep -E '^\| (g\+\+|gcc|mingw|binutils)-' "$repo/README.md" || true)
for name in Typeloader.exe Typeloader-Deploy.exe; do
    hash=$(sha256sum "$work/out/control/source-root/build/windows/$name" | cut -d' ' -f1)
    echo "check-reproducible: $name SHA-256 $hash"
    pattern=$(printf '%s' "$name" | sed 's/\./\\./g')
    recorded_hash=$(sed -n "s/^$pattern SHA-256: \`\([0-9a-f]\{64\}\)\`.*/\1/p" "$repo/README.md")
    if [ -z "$recorded_hash" ]; then
        echo "check-reproducible: README.md records no $name SHA-256" >&2
        status=1
    elif [ "$recorded_table" = "$(toolchain_table)" ]; then
        if [ "$recorded_hash" != "$hash" ]; then
            echo "check-reproducible: same toolchain as README.md records, but the SHA-256 of $name is" >&2
            echo "  $hash, not the recorded $recorded_hash: update README.md with the change" >&2
            status=1
        else
            echo "check-reproducible: $name matches the release build recorded in README.md"
        fi
    else
        echo "check-reproducible: this toolchain differs from the one README.md records; its hash is not comparable"
    fi
done
exit $status
