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
bash "$(dirname "$0")/../make_test_stub.sh" "$work/stub.exe"
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
check 1 "cannot read '.*missing.exe'" -- create -o "$work/o.exe" --stub "$work/missing.exe" "$work/in"
check 1 "cannot read '.*nodir'" -- create -o "$work/o.exe" --stub "$work/stub.exe" "$work/nodir"
check 1 "cannot create '.*no/such/o.exe.*': No such file or directory" -- create -o "$work/no/such/o.exe" --stub "$work/stub.exe" "$work/in"
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
check 2 "--threads must be 1 to 8" -- extract "$work/o.exe" --threads 0 -C "$work/x1"
check 2 "unknown option '--threads'" -- test "$work/o.exe" --threads 2
check 0 "" -- extract "$work/o.exe" --threads 1 -C "$work/x1"
cmp -s "$work/in/sub/a.txt" "$work/x1/sub/a.txt" || { echo "FAIL: extract --threads 1"; failures=$((failures + 1)); }
# The output starts with the stub and holds the configuration and the name.
cmp -s -n "$(stat -c %s "$work/stub.exe")" "$work/stub.exe" "$work/o.exe" || { echo "FAIL: stub not copied"; failures=$((failures + 1)); }
"$pack" config "$work/o.exe" | grep -qxE '<SfxConfig ?/?>' || { echo "FAIL: config missing"; failures=$((failures + 1)); }
grep -qa 'sub/a.txt' "$work/o.exe" || { echo "FAIL: entry name missing"; failures=$((failures + 1)); }
ls "$work" | grep -q '\.part$' && { echo "FAIL: temporary file left"; failures=$((failures + 1)); }
# Configuration from flags, read back with "config"; flags override --config.
printf '<SfxConfig><MainTitle>From file</MainTitle><FinTitle>Kept</FinTitle></SfxConfig>' >"$work/t.xml"
check 0 "" -- create -q -o "$work/f.exe" --stub "$work/stub.exe" --config "$work/t.xml" \
  --title 'A & <B>' --run setup.exe --run-args '/q "x y"' --no-wait "$work/in"
cfg=$("$pack" config "$work/f.exe")
for line in '<MainTitle>A &amp; &lt;B&gt;</MainTitle>' '<FinTitle>Kept</FinTitle>' \
  '<SetupExe>setup.exe</SetupExe>' '<SetupExeArgs>/q "x y"</SetupExeArgs>' \
  '<WaitForSetup>0</WaitForSetup>'; do
  grep -qxF "    $line" <<<"$cfg" || { echo "FAIL: config lacks $line: $cfg"; failures=$((failures + 1)); }
done
check 2 "--set needs KEY=VALUE" -- create -o "$work/o.exe" --stub "$work/stub.exe" --set Bogus=1
check 2 "--main-width needs a whole number" -- create -o "$work/o.exe" --stub "$work/stub.exe" --main-width wide
# Encryption follows the password.
printf '<SfxConfig><Encryption>0</Encryption></SfxConfig>' >"$work/e0.xml"
printf '<SfxConfig><Encryption>1</Encryption></SfxConfig>' >"$work/e1.xml"
check 1 "e0.xml sets Encryption to 0, but --password" -- create -o "$work/o.exe" --stub "$work/stub.exe" \
  --config "$work/e0.xml" --password pw "$work/in"
check 1 "e1.xml sets Encryption to 1, but no --password" -- create -o "$work/o.exe" --stub "$work/stub.exe" \
  --config "$work/e1.xml" "$work/in"
check 0 "" -- create -q -o "$work/p.exe" --stub "$work/stub.exe" --password pw "$work/in"
"$pack" config "$work/p.exe" | grep -qxF '    <Encryption>1</Encryption>' || { echo "FAIL: --password without Encryption 1"; failures=$((failures + 1)); }
check 1 "p.exe: wrong password" -- test "$work/p.exe" --password nope
check 0 "OK" -- test "$work/p.exe" --password pw
# The password scheme: the count's bounds, the argument the packer owns,
# and payloads whose kdf argument no reader may trust.
check 2 "--kdf-iterations must be 1000 to 100000000" -- create -o "$work/o.exe" --stub "$work/stub.exe" --password pw --kdf-iterations 999 "$work/in"
check 2 "--kdf-iterations must be 1000 to 100000000" -- create -o "$work/o.exe" --stub "$work/stub.exe" --password pw --kdf-iterations 100000001 "$work/in"
check 2 "--arg kdf: the packer writes it" -- create -o "$work/o.exe" --stub "$work/stub.exe" --arg kdf=1 "$work/in"
check 0 "" -- create -q -o "$work/k.exe" --stub "$work/stub.exe" --password pw --kdf-iterations 1000 "$work/in"
grep -qa '1:pbkdf2-hmac-sha256:1000:' "$work/k.exe" || { echo "FAIL: kdf argument missing"; failures=$((failures + 1)); }
check 0 "" -- create -q -o "$work/l.exe" --stub "$work/stub.exe" --password pw --legacy-encryption "$work/in"
! grep -qa 'pbkdf2' "$work/l.exe" || { echo "FAIL: kdf argument in a legacy payload"; failures=$((failures + 1)); }
check 0 "OK" -- test "$work/l.exe" --password pw
# 999 iterations: the value one byte shorter (its length 58 becomes 57).
perl -0777 -pe 's/kdf\x3a\x001:pbkdf2-hmac-sha256:1000:/kdf\x39\x001:pbkdf2-hmac-sha256:999:/' "$work/k.exe" >"$work/k-range.exe"
LC_ALL=C sed 's/1:pbkdf2-hmac-sha256:/1:pbkdf2-hmac-sha512:/' "$work/k.exe" >"$work/k-scheme.exe"
LC_ALL=C sed 's/sha256:1000:/sha256:100x:/' "$work/k.exe" >"$work/k-bad.exe"
check 1 "iteration count is out of range \\(1000 to 100000000\\)" -- test "$work/k-range.exe" --password pw
check 1 "names an unknown scheme" -- list "$work/k-scheme.exe" --password pw
check 1 "argument is malformed" -- extract "$work/k-bad.exe" -C "$work/kx" --password pw
[ ! -e "$work/kx" ] || { echo "FAIL: a refused payload made its directory"; failures=$((failures + 1)); }

# Names Windows cannot hold: every one listed, exit 1, nothing written.
# (A component over 255 UTF-16 units cannot be made here: this file system
# holds 255 bytes, and no UTF-8 takes fewer bytes than UTF-16 units.)
bad=$work/bad
mkdir -p "$bad/CON" "$bad/dir."
for n in 'a:b.txt' 'back\slash.txt' $'new\nline.txt' 'CON.txt' 'nul' 'Com1.log' 'trail ' \
  'q?.txt' 'w*.txt' 'p|ipe' 'lt<' 'gt>' 'quo"te' $'ctl\x01' 'Case.txt' 'CASE.txt' \
  CON/inner.txt dir./inner.txt; do
  printf 'data' >"$bad/$n"
done
printf 'data' >"$bad/fine.txt"
out=$("$pack" create -o "$work/bad.exe" --stub "$work/stub.exe" "$bad" 2>&1)
status=$?
[ "$status" = 1 ] || { echo "FAIL: hostile names: status $status"; failures=$((failures + 1)); }
[ ! -e "$work/bad.exe" ] && ! ls "$work" | grep -q '\.part$' || { echo "FAIL: hostile names: output written"; failures=$((failures + 1)); }
for n in 'a:b.txt' 'back\slash.txt' 'new\nline.txt' 'CON.txt' 'nul' 'Com1.log' 'trail ' \
  'q?.txt' 'w*.txt' 'p|ipe' 'lt<' 'gt>' 'quo"te' 'ctl\x01' 'Case.txt' 'CON' 'dir.'; do
  grep -qF "$bad/$n: " <<<"$out" || { echo "FAIL: not listed: $n"; failures=$((failures + 1)); }
done
grep -qF "fine.txt" <<<"$out" && { echo "FAIL: a good name listed"; failures=$((failures + 1)); }
grep -qF "17 names cannot be stored" <<<"$out" || { echo "FAIL: count: $out"; failures=$((failures + 1)); }
# --rename: each mapping reported, and the archive lists the reported names.
out=$("$pack" create -q -o "$work/ren.exe" --stub "$work/stub.exe" --rename "$bad" 2>&1) ||
  { echo "FAIL: --rename: $out"; failures=$((failures + 1)); }
listing=$("$pack" list "$work/ren.exe")
for m in "a:b.txt|a_b.txt" 'CON.txt|_CON.txt' 'new\nline.txt|newline.txt' \
  'back\slash.txt|back_slash.txt' 'Case.txt|Case~2.txt' 'nul|_nul'; do
  grep -qF "renamed '${m%|*}' to '${m#*|}'" <<<"$out" || { echo "FAIL: no mapping $m: $out"; failures=$((failures + 1)); }
done
for n in a_b.txt _CON.txt newline.txt _CON/inner.txt dir_/inner.txt back_slash.txt Case~2.txt CASE.txt _nul; do
  grep -qE " $n\$" <<<"$listing" || { echo "FAIL: not stored as $n: $listing"; failures=$((failures + 1)); }
done
# --dry-run checks and lists, writes nothing, needs no output.
check 1 "names cannot be stored" -- create --dry-run "$bad"
check 0 "file +4  _CON.txt" -- create --dry-run --rename "$bad"
[ ! -e "$work/bad.exe" ] || { echo "FAIL: dry run wrote"; failures=$((failures + 1)); }

# Symbolic links: inside the tree stored as their targets; outside refused
# unless --follow-links; loops and dangling links refused.
lk=$work/links
mkdir -p "$lk/tree/real" "$work/outside"
printf 'target' >"$lk/tree/real/t.txt"
printf 'far' >"$work/outside/far.txt"
ln -s real/t.txt "$lk/tree/file-link"
ln -s real "$lk/tree/dir-link"
check 0 "" -- create -q -o "$work/l.exe" --stub "$work/stub.exe" "$lk/tree"
"$pack" extract "$work/l.exe" -C "$work/lx" >/dev/null
for f in file-link dir-link/t.txt real/t.txt; do
  [ -f "$work/lx/$f" ] && [ ! -L "$work/lx/$f" ] && cmp -s "$work/lx/$f" "$lk/tree/real/t.txt" ||
    { echo "FAIL: link $f not stored as its target"; failures=$((failures + 1)); }
done
ln -s ../../outside "$lk/tree/out-link"
check 1 "out-link: symbolic link to .*outside the packed folder" -- create -o "$work/l2.exe" --stub "$work/stub.exe" "$lk/tree"
check 0 "" -- create -q -o "$work/l2.exe" --stub "$work/stub.exe" --follow-links "$lk/tree"
"$pack" list "$work/l2.exe" | grep -q ' out-link/far.txt$' || { echo "FAIL: --follow-links"; failures=$((failures + 1)); }
ln -s .. "$lk/tree/real/loop"
ln -s missing "$lk/tree/dangling"
out=$("$pack" create -o "$work/l3.exe" --stub "$work/stub.exe" --follow-links "$lk/tree" 2>&1)
grep -q "real/loop: symbolic link to .*a loop" <<<"$out" && grep -q "dangling: symbolic link to nothing" <<<"$out" ||
  { echo "FAIL: loop or dangling link not refused: $out"; failures=$((failures + 1)); }

# A failure is one line; -v adds the reader's log.
head -c $(($(stat -c %s "$work/f.exe") - 20)) "$work/f.exe" >"$work/cut.exe"
check 1 "" -- test "$work/cut.exe"
[ "$("$pack" test "$work/cut.exe" 2>&1 | wc -l)" = 1 ] || { echo "FAIL: failure not on one line"; failures=$((failures + 1)); }
"$pack" test -v "$work/cut.exe" 2>&1 | grep -q 'MarlithLog' || { echo "FAIL: -v without the log"; failures=$((failures + 1)); }

# The help and the configuration reference name every flag; the reference
# names every key.
if [ -n "${2:-}" ]; then
  help=$("$pack" --help)
  while read -r flag key; do
    grep -qF -- "$flag" <<<"$help" || { echo "FAIL: --help lacks $flag"; failures=$((failures + 1)); }
    grep -qF -- "\`$flag" "$2/docs/CONFIG.md" || { echo "FAIL: CONFIG.md lacks $flag"; failures=$((failures + 1)); }
  done < <(grep -oE '^  --[a-z-]+' <<<"$(sed -n '/^Configuration/,/^$/p' <<<"$help")")
  for key in $(grep -oE '\{"[A-Za-z]+", KeyKind' "$2/tools/sfxpack/pack/config_keys.cpp" | cut -d'"' -f2); do
    grep -qF "| \`$key\` |" "$2/docs/CONFIG.md" || { echo "FAIL: CONFIG.md lacks key $key"; failures=$((failures + 1)); }
  done
fi
# The built-in stubs: each listed by --version; one that is built in is
# copied in front of the payload, one that is not asks for --stub.
version=$("$pack" --version)
grep -qE '^sfxpack [0-9]+\.[0-9]+\.[0-9]+$' <<<"$version" || { echo "FAIL: --version: $version"; failures=$((failures + 1)); }
for arch in x86 x64; do
  line=$(grep "^built-in $arch stub: " <<<"$version")
  if [ "$line" = "built-in $arch stub: none (give --stub)" ]; then
    check 1 "no built-in $arch stub .*give --stub STUB.exe" -- create -o "$work/$arch.exe" --arch "$arch" "$work/in"
  else
    size=$(sed -nE 's/.*, ([0-9]+) bytes$/\1/p' <<<"$line")
    check 0 "" -- create -q -o "$work/$arch.exe" --arch "$arch" "$work/in"
    [ "$(head -c 2 "$work/$arch.exe")" = MZ ] && "$pack" test "$work/$arch.exe" >/dev/null &&
      [ "$(stat -c %s "$work/$arch.exe")" -gt "${size:-0}" ] ||
      { echo "FAIL: built-in $arch stub: $line"; failures=$((failures + 1)); }
  fi
done
check 2 "give --config FILE instead" -- create -o "$work/o.exe" --stub "$work/stub.exe" --arg xmlConfig=x
[ "$failures" = 0 ] && echo "sfxpack command line: all checks passed"
exit $((failures != 0))
