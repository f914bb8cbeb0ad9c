#!/usr/bin/env bash
# The packer's command line: exit status, messages, and the file it writes.
set -u
pack=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check EXPECTED_STATUS PATTERN -- ARGS...
  local want=$1 pattern=$2
  shift 3
  local out status
  out=$("$pack" "$@" 2>&1)
  status=$?
  if [ "$status" != "$want" ] || ! grep -qE -- "$pattern" <<<"$out"; then
    echo "FAIL: sfxpack $*: status $status (want $want), output: $out"
    failures=$((failures + 1))
  fi
}
printf 'MZstub' >"$work/stub.exe"
mkdir -p "$work/in/sub"
printf 'hello' >"$work/in/sub/a.txt"
printf '<SfxConfig/>' >"$work/c.xml"

check 2 "missing command" --
check 0 "Usage: sfxpack create" -- --help
check 2 "unknown command 'pack'" -- pack
check 2 "missing -o" -- create --stub "$work/stub.exe"
check 2 "either --stub or --arch" -- create -o "$work/o.exe" --stub "$work/stub.exe" --arch x86
check 2 "--arch must be x86 or x64" -- create -o "$work/o.exe" --arch arm
check 2 "unknown option '--bogus'" -- create -o "$work/o.exe" --stub "$work/stub.exe" --bogus
check 2 "needs a value" -- create -o "$work/o.exe" --stub
check 2 "NAME=VALUE" -- create -o "$work/o.exe" --stub "$work/stub.exe" --arg novalue
check 2 "chunk-size" -- create -o "$work/o.exe" --stub "$work/stub.exe" --chunk-size 0
check 1 "cannot read '.*missing.exe'" -- create -o "$work/o.exe" --stub "$work/missing.exe"
check 1 "cannot read '.*nodir'" -- create -o "$work/o.exe" --stub "$work/stub.exe" "$work/nodir"
check 1 "cannot create" -- create -o "$work/no/such/o.exe" --stub "$work/stub.exe"
check 0 "1 files, 5 bytes in" -- create -o "$work/o.exe" --stub "$work/stub.exe" \
  --config "$work/c.xml" "$work/in"
check 2 "missing FILE.exe" -- list
check 2 "unknown option '-C'" -- test "$work/o.exe" -C "$work/x"
check 2 "unexpected argument" -- extract "$work/o.exe" "$work/o2.exe"
check 1 "cannot read '.*missing.exe'" -- test "$work/missing.exe"
check 1 "no payload" -- list "$work/stub.exe"
check 0 "file +5 .* sub/a.txt" -- list "$work/o.exe"
check 0 "OK, 1 files, 1 directories" -- test "$work/o.exe"
check 0 "" -- extract "$work/o.exe" -C "$work/x"
cmp -s "$work/in/sub/a.txt" "$work/x/sub/a.txt" || { echo "FAIL: extract"; failures=$((failures + 1)); }
# The output starts with the stub and holds the configuration and the name.
head -c 6 "$work/o.exe" | grep -q '^MZstub$' || { echo "FAIL: stub not copied"; failures=$((failures + 1)); }
"$pack" config "$work/o.exe" | grep -qx '<SfxConfig>' || { echo "FAIL: config missing"; failures=$((failures + 1)); }
grep -qa 'sub/a.txt' "$work/o.exe" || { echo "FAIL: entry name missing"; failures=$((failures + 1)); }
[ ! -e "$work/o.exe.part" ] || { echo "FAIL: temporary file left"; failures=$((failures + 1)); }
[ "$failures" = 0 ] && echo "sfxpack command line: all checks passed"
exit $((failures != 0))
