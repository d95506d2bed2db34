#!/usr/bin/env bash
# Makes the reference dumps of Windows' code-page conversions: builds dumpcodepages.exe with
# mingw-w64 and runs it under Wine, then packs the result as tests/data/codepages.tar.xz with the
# Wine version that made it. Needs g++-mingw-w64-x86-64-posix and wine (Debian packages); CI
# does not run this, it uses the committed dumps.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$here/../.."
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export WINEPREFIX="${WINEPREFIX:-$HOME/.wine-tavrin-codepages}" WINEDEBUG=-all

x86_64-w64-mingw32-g++-posix -O2 -std=c++20 -static -Wall -Wextra \
  -o "$work/dumpcodepages.exe" "$here/dumpcodepages.cpp"
mkdir -p "$work/codepages"
wine "$work/dumpcodepages.exe" "$work/codepages/windows.bin" 2> "$work/codepages/entries.txt"
wine --version > "$work/codepages/version.txt"
tar -C "$work" --sort=name --owner=0 --group=0 --numeric-owner --mtime=@0 \
  -cf - codepages | xz -9e -T1 > "$root/tests/data/codepages.tar.xz"
echo "tests/data/codepages.tar.xz: $(cat "$work/codepages/version.txt"), $(wc -l < "$work/codepages/entries.txt") code pages"
