#!/usr/bin/env bash
# The ABI of each of our shared libraries against its baseline in this folder,
# <SONAME>.abi (abigail-tools: abidw writes a baseline, abidiff compares), and
# its exported symbols against its public headers.
#
#   check_abi.sh BUILD_DIR            fails on any difference, with abidiff's report
#   check_abi.sh BUILD_DIR --update   writes the baselines from BUILD_DIR
#
# The baselines describe the libraries of the plain amd64 build that ./dev
# makes in build/ (GCC, RelWithDebInfo, no sanitizer, our own MAVLink types),
# so that they come out the same on every machine; BUILD_DIR must be one.
set -euo pipefail
here=$(cd "$(dirname "$(readlink -f "$0")")" && pwd)
repo=$(cd "$here/.." && pwd)
build=${1:?usage: check_abi.sh BUILD_DIR [--update]}
mode=${2:-check}

# Library (its link name in the build tree), export macro, public header folders.
LIBRARIES=(
    "platform/brannic_pipe/libbrannic_pipe.so BRANNIC_PIPE_EXPORT platform/brannic_pipe/include/orvi"
    "platform/brannic_json/libbrannic_json.so BRANNIC_JSON_EXPORT platform/brannic_json/include/orvi"
    "common/liborvi-common.so ORVI_COMMON_EXPORT common/include/orvi"
    "vtx/liborvi-vtx-helpers.so ORVI_VTX_EXPORT vtx/include/orvi platform/mavlink/include/orvi"
)
# Only what callers can reach from the exported symbols, without paths or
# source lines (which change with every edit and checkout, the ABI does not).
ABIDW_OPTIONS=(--no-corpus-path --no-comp-dir-path --no-show-locs --exported-interfaces-only
    --drop-undefined-syms --type-id-style hash)

cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
[ -f "$build/CMakeCache.txt" ] || { echo "check_abi: $build is not a build tree" >&2; exit 2; }
if [ "$(cached CMAKE_BUILD_TYPE)" != RelWithDebInfo ] || [ -n "$(cached ORVI_SANITIZE)" ] ||
    [ "$(cached ORVI_BUILD_FUZZ)" = ON ] || [ -n "$(cached CMAKE_TOOLCHAIN_FILE)" ] ||
    [[ "$(cached ORVI_MAVLINK_HEADERS)" != *NOTFOUND ]] ||
    ! grep -qx 'set(CMAKE_CXX_COMPILER_ID "GNU")' "$build"/CMakeFiles/*/CMakeCXXCompiler.cmake; then
    echo "check_abi: $build is not the plain build that the baselines describe" \
        "(GCC, RelWithDebInfo, no sanitizer, fuzzing or cross toolchain, no MAVLink headers)" >&2
    exit 2
fi

status=0
sonames=()
for entry in "${LIBRARIES[@]}"; do
    read -r path macro dirs <<<"$entry"
    read -ra dirs <<<"$dirs"
    lib=$(readlink -f "$build/$path")
    soname=$(objdump -p "$lib" | awk '$1 == "SONAME" { print $2 }')
    sonames+=("$soname")
    baseline=$here/$soname.abi
    "$repo/tests/package/check_exports.sh" "$lib" "$macro" "${dirs[@]/#/$repo/}" || status=1
    if [ "$mode" = --update ]; then
        # Source files named from the top of the tree, however the compiler
        # was given them (absolute, or relative to the build tree by ccache).
        abidw "${ABIDW_OPTIONS[@]}" "$lib" |
            sed -E "s#(<abi-instr [^>]*path=')($repo/|(\.\./)+)#\1#" >"$baseline"
        echo "$soname: baseline written to abi/${baseline##*/}"
        continue
    fi
    if [ ! -f "$baseline" ]; then
        echo "$soname has no baseline abi/${baseline##*/}: write one with ./dev abi-baseline" >&2
        status=1
        continue
    fi
    result=0
    report=$(abidiff --fail-no-debug-info "$baseline" "$lib" 2>&1) || result=$?
    if [ $result -eq 0 ]; then
        echo "$soname: ABI as in abi/${baseline##*/}"
        continue
    fi
    status=1
    echo "$report" >&2
    # abidiff marks only some breaks as such (status bit 8): a changed record
    # layout is a mere "change" (bit 4). Only additions are compatible.
    counts=$(awk '/changes summary/ { for (i = 2; i <= NF; i++) {
                      if ($i ~ /^(Removed|Changed)/) other += $(i - 1)
                      if ($i ~ /^Added/) added += $(i - 1) } }
                  END { print other + 0, added + 0 }' <<<"$report")
    read -r removed_or_changed added <<<"$counts"
    if [ $((result & 3)) -ne 0 ]; then
        echo "== $soname: abidiff failed (status $result)" >&2
    elif [ $((result & 8)) -eq 0 ] && [ "$removed_or_changed" = 0 ] && [ "$added" != 0 ]; then
        echo "== $soname: its interface grew (above), compatibly. If that is meant, record it" \
            "with ./dev abi-baseline and commit abi/ with the change" >&2
    else
        echo "== $soname: INCOMPATIBLE ABI change against abi/${baseline##*/} (above)." \
            "Undo it, or make it deliberately: raise ORVI_SOVERSION (CMakeLists.txt), rename" \
            "the library package, then ./dev abi-baseline (README, \"The libraries' ABI\")" >&2
    fi
done

# A baseline of a library that is no longer built (an old SONAME).
for baseline in "$here"/*.abi; do
    [ -e "$baseline" ] || continue
    name=${baseline##*/}
    [[ " ${sonames[*]} " == *" ${name%.abi} "* ]] && continue
    if [ "$mode" = --update ]; then
        rm "$baseline"
        echo "abi/$name removed: no library of that SONAME is built"
    else
        echo "abi/$name: no library of that SONAME is built; ./dev abi-baseline removes it" >&2
        status=1
    fi
done
exit $status
