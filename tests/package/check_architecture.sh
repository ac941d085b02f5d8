#!/usr/bin/env bash
# Checks that the packages of ARCH say so in their Architecture field and that
# every ELF file in them is built for that machine.
#
#   check_architecture.sh PACKAGE_DIR ARCH
set -euo pipefail
dir=$1 arch=$2
case "$arch" in
    amd64) machine="Advanced Micro Devices X86-64" ;;
    arm64) machine="AArch64" ;;
    *) echo "check_architecture: unknown architecture $arch" >&2; exit 2 ;;
esac
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
shopt -s nullglob
debs=("$dir"/*_"$arch".deb)
[ ${#debs[@]} -gt 0 ] || { echo "check_architecture: no $arch packages in $dir" >&2; exit 1; }
status=0 elves=0
for deb in "${debs[@]}"; do
    field=$(dpkg-deb -f "$deb" Architecture)
    if [ "$field" != "$arch" ]; then
        echo "$deb: Architecture is $field, not $arch" >&2
        status=1
    fi
    rm -rf "$scratch/x"
    dpkg-deb -x "$deb" "$scratch/x"
    while IFS= read -r -d '' file; do
        [ "$(head -c 4 "$file" | od -An -tx1 | tr -d ' \n')" = 7f454c46 ] || continue
        elves=$((elves + 1))
        got=$(readelf -h "$file" | sed -n 's/^ *Machine: *//p')
        if [ "$got" != "$machine" ]; then
            echo "$deb: ${file#"$scratch/x"} is for $got, not $machine" >&2
            status=1
        fi
    done < <(find "$scratch/x" -type f -print0)
done
[ "$elves" -gt 0 ] || { echo "check_architecture: no ELF file at all" >&2; status=1; }
[ $status -eq 0 ] && echo "$arch: ${#debs[@]} packages, $elves ELF files, all $machine"
exit $status
