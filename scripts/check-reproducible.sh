#!/bin/sh
# Two clean builds of the windows preset from the same sources, in two source
# and build folders of different absolute paths, must give the same
# Typeloader.exe byte for byte, and neither path may show in the binary.
# Run from the repository root. Sources are the tracked files as they stand.
set -eu

repo=$(pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/typeloader-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT

build_copy() {
    src=$1
    mkdir -p "$src"
    (cd "$repo" && git ls-files -z | tar --null -T - -cf -) | tar -C "$src" -xf -
    (cd "$src" && cmake --preset windows >"$work/$2.log" 2>&1 &&
        cmake --build --preset windows --target Typeloader -j 2 >>"$work/$2.log" 2>&1) || {
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

exe1="$first/build/windows/Typeloader.exe"
exe2="$second/build/windows/Typeloader.exe"
status=0
if cmp "$exe1" "$exe2"; then
    echo "check-reproducible: identical, sha256 $(sha256sum "$exe1" | cut -d' ' -f1)"
else
    echo "check-reproducible: the two builds differ" >&2
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
exit $status
