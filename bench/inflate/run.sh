#!/bin/sh
# Runs the inflater benchmark on a corpus taken from this system's shared
# libraries and documentation. Usage: run.sh BUILD_DIR [MB]
# (BUILD_DIR: a native-release build, e.g. build/native-release).
set -e
build=${1:-build/native-release}
libdir=/usr/lib/$(uname -m)-linux-gnu
[ -d "$libdir" ] || libdir=/usr/lib
exec "$build/bin/inflate_bench" "$libdir" /usr/share/doc "${2:-100}"
