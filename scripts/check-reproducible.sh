#!/bin/sh
# Two clean builds of the windows preset from the same sources, in two source
# and build folders of different absolute paths, must give the same
# Typeloader.exe and Typeloader-Deploy.exe byte for byte, and neither path may
# show in either binary.
# Prints the Debian packages of the toolchain that made them and the exe's
# SHA-256 of each exe; when the toolchain is the one the README records, each
# hash must be the README's too, so that the recorded release build stays rebuildable.
# Run from the repository root. Sources are the tracked files as they stand.
set -eu

# The packages whose files go into the exe: compilers and their runtime
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

build_copy() {
    src=$1
    mkdir -p "$src"
    (cd "$repo" && git ls-files -z | tar --null -T - -cf -) | tar -C "$src" -xf -
    (cd "$src" && cmake --preset windows >"$work/$2.log" 2>&1 &&
        cmake --build --preset windows --target Typeloader Typeloader-Deploy -j 2 >>"$work/$2.log" 2>&1) || {
        cat "$work/$2.log" >&2
        echo "check-reproducible: build in $src failed" >&2
        exit 1
    }
}

# Different lengths too, so that a path baked in would also shift offsets.
first="$work/one/src"
second="$work/second-copy/deeper/src"
build_copy "$first" one
build_copy "$second" two

status=0
echo "check-reproducible: toolchain"
toolchain_table
recorded_table=$(grep -E '^\| (g\+\+|gcc|mingw|binutils)-' "$repo/README.md" || true)
for name in Typeloader.exe Typeloader-Deploy.exe; do
    exe1="$first/build/windows/$name"
    exe2="$second/build/windows/$name"
    hash=$(sha256sum "$exe1" | cut -d' ' -f1)
    if cmp "$exe1" "$exe2"; then
        echo "check-reproducible: identical, $name SHA-256 $hash"
    else
        echo "check-reproducible: the two builds of $name differ" >&2
        status=1
    fi

    for exe in "$exe1" "$exe2"; do
        for path in "$work" "$repo" "$first" "$second" typeloader-repro; do
            if grep -q -a -F "$path" "$exe"; then
                echo "check-reproducible: $exe holds the path $path" >&2
                status=1
            fi
        done
    done
    # The README's record: the same table lines, then each hash in backquotes.
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
