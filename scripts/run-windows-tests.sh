#!/usr/bin/env bash
# The Windows build: tavrin.dll, its tests, the outside-project package test and the
# demonstration, cross-compiled with mingw-w64 and run under Wine (in a prefix under build/).
# With a Linux demonstration program as argument (e.g. build/ci/examples/tavrin_demo), the
# documents that both systems write for the same orders are compared byte for byte.
set -euo pipefail
cd "$(dirname "$0")/.."
linux_demo="${1:-}"

packages=(g++-mingw-w64-x86-64-posix wine wine64 googletest cmake ninja-build)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  as_root apt-get update -qq
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

build=build/windows-tests
prefix_dir="$PWD/build/wineprefix"
win() {
  env WINEPREFIX="$prefix_dir" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
      LC_ALL=C.UTF-8 wine "$@"
}

cmake --preset windows-tests >/dev/null
cmake --build --preset windows-tests
./scripts/check-architecture.sh "$build/bin/tavrin.dll"
ctest --preset windows-tests -j2 | tail -n 20

# The installed package, used by an outside project; the DLLs travel beside its program.
package="$PWD/$build/package"
rm -rf "$package" build/windows-package
cmake --install "$build" --prefix "$package" >/dev/null
cmake -S tests/package -B build/windows-package -G Ninja \
      --toolchain "$PWD/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
      -Dtavrin_DIR="$package/lib/cmake/tavrin" >/dev/null
cmake --build build/windows-package
cp "$package"/bin/*.dll build/windows-package/
win build/windows-package/consumer.exe

# The demonstration under Wine, and the same documents from both systems.
documents="$PWD/$build/demo-documents"
rm -rf "$documents"
win "$build/bin/tavrin_demo.exe" 2000 "$documents/windows"
if [ -n "$linux_demo" ]; then
  "$linux_demo" 2000 "$documents/linux" >/dev/null
  for f in orders.bin orders.json orders.xml; do
    cmp "$documents/linux/$f" "$documents/windows/$f"
    echo "$f: the same $(stat -c %s "$documents/windows/$f") bytes on Linux and Windows"
  done
fi
