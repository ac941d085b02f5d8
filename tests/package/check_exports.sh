#!/usr/bin/env bash
# Checks that a shared library exports exactly what its public headers mark
# with its export macro: one dynamic symbol per marked declaration, by name
# (overloads count once each), and nothing else (no standard library template
# code, no internals, no MAVLink calls).
#
#   check_exports.sh LIBRARY MACRO HEADER_DIR...
#
# Prints what differs and exits 1, or one summary line and exits 0.
set -euo pipefail
lib=$1 macro=$2
shift 2
[ -f "$lib" ] || { echo "check_exports: no $lib" >&2; exit 2; }
name=$(objdump -p "$lib" | awk '$1 == "SONAME" { print $2 }')
name=${name:-${lib##*/}}
scratch=$(mktemp -d /tmp/orvi-exports.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# "name<TAB>demangled symbol" per exported symbol; the name is the last
# component of the qualified name, without its parameters and ABI tags.
nm -D --defined-only "$lib" | awk '{ print $3 }' | c++filt |
    awk '{ name = $0; sub(/\(.*/, "", name); gsub(/\[abi:[^]]*\]/, "", name)
           sub(/.*::/, "", name); print name "\t" $0 }' | sort >"$scratch/exported"

# The name declared by each statement that carries the macro: comments and
# directives dropped (the compiler strips the comments, expanding nothing),
# statements split at ';', the declarator's last word before any '('.
for dir in "$@"; do
    for header in "$dir"/*.h; do
        g++ -x c++ -w -fpreprocessed -dD -E -P "$header"
    done
done | grep -v '^[[:space:]]*#' | tr '\n' ' ' | tr ';' '\n' |
    awk -v macro="$macro" '
        { n = split($0, words, /[^A-Za-z0-9_]+/); marked = 0
          for (i = 1; i <= n; i++) if (words[i] == macro) marked = 1 }
        !marked { next }
        { text = $0; sub(".*" macro, "", text); sub(/\(.*/, "", text)
          n = split(text, words, /[^A-Za-z0-9_]+/)
          for (i = n; i > 0 && words[i] == ""; i--) {}
          print words[i] }' | sort >"$scratch/declared"

cut -f1 "$scratch/exported" >"$scratch/exported-names"
status=0
extra=$(comm -23 "$scratch/exported-names" "$scratch/declared")
missing=$(comm -13 "$scratch/exported-names" "$scratch/declared")
if [ -n "$extra" ]; then
    echo "$name exports what no public header marks with $macro:" >&2
    # The symbols themselves, so that a C++ name is recognisable.
    awk -F'\t' 'NR == FNR { want[$1] = 1; next } want[$1] { print "  " $2 }' \
        <(echo "$extra") "$scratch/exported" >&2
    status=1
fi
if [ -n "$missing" ]; then
    echo "$name does not export what its public headers mark with $macro:" >&2
    sed 's/^/  /' <<<"$missing" >&2
    status=1
fi
[ $status -ne 0 ] ||
    echo "$name: $(wc -l <"$scratch/exported") symbols, exactly the declarations marked $macro"
exit $status
