#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, as root: CMake and
# Ninja, GoogleTest sources, MinGW-w64 for i686 (and x86_64), 32-bit Wine (and
# 64-bit Wine, for kernels that run no 32-bit programs), Xvfb, libdeflate,
# zip, unzip, GNU time and the MinGW zlib for the benchmarks, and clang with
# libFuzzer for the fuzz targets.
# Idempotent and quick when everything is there.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }
for p in cmake ninja-build g++ googletest libgtest-dev libdeflate-dev zlib1g-dev libz-mingw-w64-dev \
         g++-mingw-w64-i686-posix binutils-mingw-w64-i686 xvfb xauth \
         g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
         wine wine32:i386 wine64 osslsigncode openssl icoutils zip unzip time clang libclang-rt-14-dev locales pigz zopfli 7zip; do
  have_pkg "$p" || need+=("$p")
done

if ((${#need[@]})); then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: missing packages (${need[*]}); run as root to install them" >&2
    exit 1
  fi
  echo "setup: installing ${need[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q "${need[@]}"
fi

# The locales whose ANSI code pages (932, 936, 1251) the end-to-end tests run
# the stub under.
for loc in ja_JP zh_CN ru_RU; do
  locale -a 2>/dev/null | grep -qix "$loc.utf8" && continue
  if [ "$(id -u)" != 0 ]; then
    echo "setup: locale $loc.UTF-8 missing; run as root to generate it" >&2
    exit 1
  fi
  localedef -i "$loc" -f UTF-8 "$loc.UTF-8"
done
