#!/usr/bin/env bash
# Builds the library for WebAssembly (wasm32-wasi, one thread, no exceptions, no file
# system) with Debian's clang into OUT/quodrel.wasm: the library's own sources (the
# list CMakeLists.txt keeps), the host bridge, the C interface, malloc and free
# exported; the page (web/index.html beside the module and the wasm) in OUT/page.
# Usage: web/build.sh OUT
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build-web}
mkdir -p "$out/objects"
# Debian's clang does not look for its wasm32 libc++ by itself: its newest one is named.
llvm=$(ls -d /usr/lib/llvm-*/lib/wasm32-wasi 2>/dev/null | sort -V | tail -1)
llvm=${llvm%/lib/wasm32-wasi}
[ -n "$llvm" ] || { echo "no libc++ for wasm32-wasi: scripts/deps.sh web installs it" >&2; exit 1; }
target=(--target=wasm32-wasi -Oz -DNDEBUG -I"$root" -I"$root/include")
cxx=("${target[@]}" -std=c++17 -fno-exceptions -fno-rtti -I"$llvm/include/wasm32-wasi/c++/v1"
    -Wall -Wextra -Werror)
sources=$(sed -n '/add_library(quodrel_objects OBJECT/,/)/p' "$root/CMakeLists.txt" |
    grep -oE '[A-Za-z0-9_/]+\.cpp')
objects=()
for source in $sources; do
    object="$out/objects/${source//\//_}.o"
    if [ ! -e "$object" ] || [ -n "$(find "$root" -newer "$object" \( -name '*.cpp' -o -name '*.h' \
        -o -name '*.inc' \) -not -path '*/build*' -print -quit)" ]; then
        clang++ "${cxx[@]}" -c "$root/$source" -o "$object"
    fi
    objects+=("$object")
done
clang "${target[@]}" -std=c11 -Wall -Wextra -Werror -c "$root/web/bridge.c" -o "$out/objects/bridge.o"
objects+=("$out/objects/bridge.o")
exports=()
for name in $(grep -oE 'quodrel_[a-z_]+' "$root/lib/quodrel.def") quodrel_web_reader \
    quodrel_web_writer quodrel_web_listener quodrel_web_options_size quodrel_web_event_size malloc free; do
    exports+=("-Wl,--export=$name")
done
clang++ --target=wasm32-wasi -mexec-model=reactor -Oz -L"$llvm/lib/wasm32-wasi" "${objects[@]}" \
    "${exports[@]}" -Wl,--export-table -Wl,--strip-all -Wl,--gc-sections -o "$out/quodrel.wasm"
# The JavaScript module's package, as npm packs it: the module, its types, the wasm and
# its README; its version is the library's, from the header (its one source).
version=$(for part in MAJOR MINOR PATCH; do
    sed -n "s/^#define QUODREL_VERSION_$part \([0-9]*\)$/\1/p" "$root/include/quodrel/quodrel.h"
done | paste -sd.)
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "no version in quodrel.h: $version" >&2; exit 1; }
mkdir -p "$out/package"
cp "$root/web/quodrel.mjs" "$root/web/quodrel.d.ts" "$root/web/README.md" "$root/LICENSE" \
    "$out/quodrel.wasm" "$out/package/"
sed "s/^  \"name\": \"quodrel\",$/&\n  \"version\": \"$version\",/" "$root/web/package.json" \
    >"$out/package/package.json"
grep -q "\"version\": \"$version\"" "$out/package/package.json"
# The page: its HTML, its scripts, the module and the wasm, static files for any host.
rm -rf "$out/page"
mkdir -p "$out/page"
cp "$root/web/index.html" "$root/web/page.mjs" "$root/web/worker.mjs" "$root/web/tree.mjs" \
    "$root/web/look.mjs" "$root/web/quodrel.mjs" "$out/quodrel.wasm" "$out/page/"
echo "$out/quodrel.wasm: $(stat -c %s "$out/quodrel.wasm") bytes"
