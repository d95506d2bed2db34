#!/usr/bin/env bash
# Installs what the build, the tests and the benchmarks need on Debian 12, if missing.
#   install-deps.sh [GROUP...]   groups for the checks CI runs beside them:
#   clang (Clang builds, fuzzing, ThreadSanitizer), analysis (clang-format, clang-tidy), docs,
#   bench (the libraries tavrin_peers_bench compares with, and matplotlib for its chart)
set -euo pipefail

packages=(g++ cmake ninja-build pkg-config libgtest-dev libgmock-dev googletest
          libbenchmark-dev libicu-dev locales)
for group in "$@"; do
  case "$group" in
    clang) packages+=(clang libclang-rt-14-dev) ;;
    analysis) packages+=(clang-format clang-tidy) ;;
    docs) packages+=(doxygen) ;;
    bench) packages+=(libcereal-dev libboost-serialization-dev libmsgpack-cxx-dev
                      nlohmann-json3-dev rapidjson-dev libpugixml-dev libsimdjson-dev
                      librapidxml-dev python3-matplotlib) ;;
    *) echo "install-deps.sh: unknown group '$group'" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  as_root apt-get update -qq
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq "${missing[@]}"
fi

# The locale tests need a locale whose decimal separator is a comma.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  echo "generating de_DE.UTF-8"
  as_root sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
fi
