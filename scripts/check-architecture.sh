#!/usr/bin/env bash
# Checks the layering of the sources and what the shared library exports.
# Argument: the shared library to inspect, libtavrin.so or tavrin.dll (optional; the include rules
# are checked either way).
set -euo pipefail
cd "$(dirname "$0")/.."

failed=0
fail() { echo "architecture: $*" >&2; failed=1; }

# Lines `#include ...` of the given files that match a pattern.
includes() { local pattern=$1; shift; grep -HnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]($pattern)" "$@" || true; }

# Public headers stand alone: nothing under core/.
hits=$(includes 'core/' include/tavrin/*.h include/tavrin/*/*.h)
[ -z "$hits" ] || fail "public header includes an internal one:"$'\n'"$hits"

# The foundation includes no format, text or toolkit header.
hits=$(includes 'core/tavrin/|tavrin/(cwriter|creader|encodings|base64|ctextfile)' core/basepool/*)
[ -z "$hits" ] || fail "foundation includes a layer above it:"$'\n'"$hits"

# The formats' toolkit includes no format.
hits=$(includes 'core/tavrin/(binary|json|xml|text)/|tavrin/(cwriter|creader|ctextfile)' core/tavrin/common/*)
[ -z "$hits" ] || fail "toolkit includes a format:"$'\n'"$hits"

# Formats stand beside each other: none includes another's internals.
for format in binary json xml text; do
  others=$(printf '%s\n' binary json xml text | grep -vx "$format" | paste -sd'|')
  hits=$(includes "core/tavrin/($others)/" core/tavrin/"$format"/*)
  [ -z "$hits" ] || fail "$format includes another format's internals:"$'\n'"$hits"
done

# Operating-system and ICU headers only behind core/platform/.
os='unistd\.h|dlfcn\.h|pthread\.h|windows\.h|sys/|unicode/|xlocale\.h|link\.h|fcntl\.h'
hits=$(includes "$os" include/tavrin/*.h include/tavrin/*/*.h $(find core -path core/platform -prune -o -type f -print))
[ -z "$hits" ] || fail "operating-system header outside core/platform:"$'\n'"$hits"

# Exports: the public API only, nothing of the platform layer or the internals.
if [ $# -ge 1 ]; then
  # Classes of include/tavrin/detail/ are bases of public classes and are exported with them.
  public_detail=$(sed -nE 's/^class TAVRIN_API ([A-Za-z]+).*/Tavrin::Detail::\1/p' include/tavrin/detail/*.h |
                  paste -sd'|')
  if [[ "$1" == *.dll ]]; then
    # A Windows DLL: the names of its export table, demangled.
    symbols=$(x86_64-w64-mingw32-objdump -p "$1" |
              sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
              sed -nE 's/^[[:space:]]*\[[[:space:]]*[0-9]+\][[:space:]]+//p' | c++filt)
    [ -n "$symbols" ] || fail "no exports found in $1"
  else
    symbols=$(nm -DC --defined-only "$1")
  fi
  exported=$(echo "$symbols" | grep -E 'Tavrin::(Platform|Binary|Detail)::|CXmlNode|SJsonElement|CJsonNodePool|Tavrin::Parse' |
              grep -vE "$public_detail" || true)
  [ -z "$exported" ] || fail "internal symbols exported from $1:"$'\n'"$exported"
fi

[ "$failed" -eq 0 ] && echo "architecture: layering and exports as designed"
exit "$failed"
