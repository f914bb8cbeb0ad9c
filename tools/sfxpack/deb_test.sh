#!/usr/bin/env bash
# The Debian package: cpack makes it from the build folder, lintian finds
# no error or warning in it, dpkg -x puts it into a throw-away root, and
# the sfxpack found there carries its stubs, its licence, its compressed
# manual page, its bash completion and documentation whose links all lead
# to files of the package, and makes an archive that it reads back.
#   deb_test.sh BUILD_DIR
# Without lintian installed the lintian step fails (set SFX_NO_LINTIAN=1
# to skip it knowingly); a sanitizer build skips it.
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
[ "$(dpkg-deb --field "$deb" Description | wc -l)" -gt 3 ] || fail "no extended description"
# A sanitizer build (the native preset) lacks the hardening flags by design;
# lintian judges the release build (native-release) only.
sanitized=0
grep -q '^SFX_SANITIZE:BOOL=ON' "$build/CMakeCache.txt" && sanitized=1
if [ "${SFX_NO_LINTIAN:-}" != 1 ] && [ "$sanitized" = 0 ]; then
  command -v lintian >/dev/null || fail "lintian is not installed"
  lintian --fail-on error,warning "$deb" >"$work/lintian.txt" 2>&1 ||
    fail "lintian: $(grep -E '^[EW]:' "$work/lintian.txt" || cat "$work/lintian.txt")"
  ! grep -qE '^[EW]:' "$work/lintian.txt" || fail "lintian: $(cat "$work/lintian.txt")"
fi
dpkg -x "$deb" "$work/root"
root=$work/root
sfxpack=$root/usr/bin/sfxpack
doc=$root/usr/share/doc/sfxpack
[ -x "$sfxpack" ] || fail "no usr/bin/sfxpack in the package"
man=$root/usr/share/man/man1/sfxpack.1.gz
[ -f "$man" ] || fail "no compressed manual page"
zcat "$man" | grep -q '^\.SH ENVIRONMENT' || fail "manual page without ENVIRONMENT"
zcat "$man" | grep -q -- '\\-\\-exclude\\-from' || fail "manual page without the option list"
bash -n "$root/usr/share/bash-completion/completions/sfxpack" || fail "completion is not bash"
grep -q "^License: MIT" "$doc/copyright" || fail "copyright without License: MIT"
grep -q "Copyright: 2026 the Nimbral self-extractor authors" "$doc/copyright" || fail "copyright line"
zcat "$doc/changelog.Debian.gz" | head -1 | grep -q "^sfxpack (" || fail "changelog.Debian.gz"
[ -f "$doc/docs/CONFIG.md" ] || fail "no CONFIG.md"
# Every relative link and image of the shipped Markdown leads to a file of
# the package.
while IFS= read -r md; do
  dir=$(dirname "$md")
  { grep -oE '\]\([^)#]+' "$md" || true; } | sed 's/^](//' | while IFS= read -r target; do
    case $target in http:* | https:* | mailto:*) continue ;; esac
    [ -e "$dir/$target" ] || echo "${md#"$root"} links to $target, not in the package"
  done
done < <(find "$doc" -name '*.md') >"$work/links.txt"
[ ! -s "$work/links.txt" ] || fail "$(cat "$work/links.txt")"
"$sfxpack" --version | grep -qE '^built-in x86 stub: version [0-9.]+, [0-9]+ bytes$' ||
  fail "no built-in x86 stub: $("$sfxpack" --version)"
"$sfxpack" --version | grep -q '^licence: MIT' || fail "--version names no licence"
mkdir -p "$work/in/sub"
printf 'packaged\n' >"$work/in/sub/a.txt"
"$sfxpack" create -q -o "$work/a.exe" --silent --temp "$work/in" || fail "create failed"
head -c 2 "$work/a.exe" | grep -q MZ || fail "no stub in front of the payload"
"$sfxpack" extract "$work/a.exe" -C "$work/out" || fail "extract failed"
cmp -s "$work/in/sub/a.txt" "$work/out/sub/a.txt" || fail "extracted file differs"
echo "package: $(basename "$deb") is lintian-clean, installs and works"
