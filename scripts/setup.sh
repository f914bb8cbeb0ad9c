#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, as root: CMake and
# Ninja, GoogleTest sources, MinGW-w64 for i686 (and x86_64), 32-bit Wine (and
# 64-bit Wine, for kernels that run no 32-bit programs), Xvfb, libdeflate,
# zip, unzip, GNU time, the MinGW zlib, NSIS (the installer the peer benchmark
# builds) and gnuplot for the benchmarks, and clang with
# libFuzzer for the fuzz targets.
# Machines come in two kinds: where the kernel runs 32-bit programs, 32-bit
# Wine runs natively and nothing more is needed; where it runs none, the
# i386 user-mode emulator is installed too (see below and scripts/run32.sh).
# Idempotent and quick when everything is there.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }
for p in cmake ninja-build g++ googletest libgtest-dev libdeflate-dev zlib1g-dev libssl-dev libz-mingw-w64-dev \
         g++-mingw-w64-i686-posix binutils-mingw-w64-i686 xvfb xauth x11-utils \
         g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
         wine wine32:i386 wine64 osslsigncode openssl icoutils zip unzip time clang libclang-rt-14-dev locales pigz zopfli 7zip dpkg-dev lintian \
         nsis gnuplot-nox; do
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

# Where the kernel runs no 32-bit programs, the 32-bit Windows builds run
# through the i386 user-mode emulator (scripts/run32.sh). Debian 12's own
# qemu 7.2 cannot start 32-bit Wine (it treats MAP_FIXED_NOREPLACE as a
# hint), so qemu-user (static binaries) comes from bookworm-backports, pinned
# so that nothing else is taken from that suite. qemu-user-binfmt is never
# installed: it would register its handlers on the host.
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1 && ! have_pkg qemu-user; then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: this kernel runs no 32-bit programs and qemu-user is missing; run as root to install it" >&2
    exit 1
  fi
  list=/etc/apt/sources.list.d/bookworm-backports.sources
  if [ ! -f "$list" ]; then
    # The mirror and key of the bookworm suite already configured.
    uri=$(awk '/^URIs:/ { u = $2 } /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == "bookworm") { print u; exit } }' \
      /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
    [ -n "$uri" ] || uri=$(awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }' \
      /etc/apt/sources.list 2>/dev/null || true)
    if [ -z "$uri" ]; then
      echo "setup: no bookworm source in /etc/apt to take bookworm-backports from" >&2
      exit 1
    fi
    printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: %s\n' \
      "$uri" /usr/share/keyrings/debian-archive-keyring.gpg >"$list"
  fi
  printf '%s\n' 'Package: *' 'Pin: release n=bookworm-backports' 'Pin-Priority: -1' '' \
    'Package: qemu-user' 'Pin: release n=bookworm-backports' 'Pin-Priority: 500' \
    >/etc/apt/preferences.d/bookworm-backports-qemu
  echo "setup: installing qemu-user from bookworm-backports"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends qemu-user
fi
