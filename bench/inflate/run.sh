#!/bin/sh
# Runs the inflater benchmark on a corpus taken from this system's shared
# libraries and documentation. Usage: run.sh BUILD_DIR [MB] [--whole]
# (BUILD_DIR: a native-release build, e.g. build/native-release; --whole:
# the whole-chunk mode, 1 MiB chunks deflated as the packer does them; it
# prints a verdict on the whole-chunk decoder's targets and exits with 3 when
# one is missed).
set -e
build=${1:-build/native-release}
libdir=/usr/lib/$(uname -m)-linux-gnu
[ -d "$libdir" ] || libdir=/usr/lib
if [ "${3:-}" = --whole ]; then
  exec "$build/bin/inflate_bench" --whole "$libdir" /usr/share/doc "${2:-100}"
fi
exec "$build/bin/inflate_bench" "$libdir" /usr/share/doc "${2:-100}"
