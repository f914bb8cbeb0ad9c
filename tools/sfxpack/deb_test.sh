#!/usr/bin/env bash
# The Debian package: cpack makes it from the build folder, dpkg -x puts it
# into a throw-away root, and the sfxpack found there carries its stubs, its
# manual page and documentation, and makes an archive that it reads back.
#   deb_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >/dev/null) ||
  fail "cpack -G DEB failed"
deb=$(ls "$work"/pkg/*.deb)
dpkg-deb --field "$deb" Package | grep -qx sfxpack || fail "package name"
dpkg-deb --field "$deb" Depends | grep -q 'libc6' || fail "no dependencies recorded"
dpkg -x "$deb" "$work/root"
sfxpack=$work/root/usr/bin/sfxpack
[ -x "$sfxpack" ] || fail "no usr/bin/sfxpack in the package"
[ -f "$work/root/usr/share/man/man1/sfxpack.1" ] || fail "no manual page"
[ -f "$work/root/usr/share/doc/sfxpack/CONFIG.md" ] || fail "no CONFIG.md"
"$sfxpack" --version | grep -qE '^built-in x86 stub: version [0-9.]+, [0-9]+ bytes$' ||
  fail "no built-in x86 stub: $("$sfxpack" --version)"
mkdir -p "$work/in/sub"
printf 'packaged\n' >"$work/in/sub/a.txt"
"$sfxpack" create -q -o "$work/a.exe" --silent --temp "$work/in" || fail "create failed"
head -c 2 "$work/a.exe" | grep -q MZ || fail "no stub in front of the payload"
"$sfxpack" extract "$work/a.exe" -C "$work/out" || fail "extract failed"
cmp -s "$work/in/sub/a.txt" "$work/out/sub/a.txt" || fail "extracted file differs"
echo "package: $(basename "$deb") installs and works"
