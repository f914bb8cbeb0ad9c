#!/usr/bin/env bash
# What sfxpack must never do to the files around it: replace an input with
# its output, leave a half-written or foreign output, write through a link
# or outside the target of extract, replace existing files unasked, or
# report success for a usage mistake.
set -u
pack=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
chmod 755 "$work"
mounted=
cleanup() {
  [ -n "$mounted" ] && umount "$mounted" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# run EXPECTED_STATUS PATTERN ARGS...: the status and a line of the output.
run() {
  local want=$1 pattern=$2
  shift 2
  out=$("$pack" "$@" 2>&1)
  local status=$?
  if [ "$status" != "$want" ] || ! grep -qE -- "$pattern" <<<"$out"; then
    fail "sfxpack $*: status $status (want $want, /$pattern/), output: $out"
  fi
}
no_part() {  # no_part DIR WHAT: no temporary file is left in DIR
  if ls -A "$1" | grep -q '\.part$'; then fail "$2: temporary file left: $(ls -A "$1")"; fi
}
bash "$here/make_test_stub.sh" "$work/stub.exe"
stub=$work/stub.exe

# --- Inputs are never outputs ----------------------------------------------
cd "$work" || exit 1
mkdir in
printf 'only copy' >in/a.txt
printf 'precious' >a.txt
ln a.txt hard.txt
for out in a.txt hard.txt; do
  run 1 "is the output" create -o "$out" --force-name --stub "$stub" a.txt
  [ "$(cat a.txt)" = precious ] || fail "-o $out: the input a.txt was replaced"
done
no_part "$work" "input equal to output"
# The output inside a packed folder is left out, so a second run does not
# pack the first one's output.
run 0 "" create -q -o in/o.exe --stub "$stub" in
size1=$(stat -c %s in/o.exe)
run 0 "leaving out 'in/o.exe': it is the output" create -q -o in/o.exe --stub "$stub" in
[ "$(stat -c %s in/o.exe)" = "$size1" ] || fail "the output grew: it was packed into itself"
"$pack" list in/o.exe | grep -q 'o\.exe' && fail "the output is listed in itself"
no_part "$work/in" "output inside an input folder"
rm in/o.exe

# --- The output appears whole or not at all --------------------------------
# A link where an old packer put its temporary file: neither followed nor
# left as the output.
printf 'victim' >victim.txt
ln -s victim.txt o.exe.part
run 0 "" create -q -o o.exe --stub "$stub" in
[ "$(cat victim.txt)" = victim ] || fail "a link named like the temporary file was written through"
[ -f o.exe ] && [ ! -L o.exe ] || fail "the output is not a file of its own"
"$pack" test -q o.exe || fail "the output does not test"
rm o.exe.part
# The mode comes from the umask.
(umask 027 && "$pack" create -q -o umask.exe --stub "$stub" in)
[ "$(stat -c %a umask.exe)" = 750 ] || fail "mode $(stat -c %a umask.exe) under umask 027 (want 750)"
# Interrupted: the signal's conventional status, no temporary file, the old
# output as it was. The input takes seconds at the slowest level.
mkdir big
head -c 12000000 /dev/urandom | base64 >big/text.txt
printf 'old output' >int.exe
for sig in INT:130 TERM:143 HUP:129; do
  "$pack" create -q --level 12 --threads 1 -o int.exe --stub "$stub" big &
  pid=$!
  for _ in $(seq 200); do
    ls -A | grep -q '^int\.exe\..*\.part$' && break
    sleep 0.02
  done
  kill -"${sig%:*}" "$pid"
  wait "$pid"
  status=$?
  [ "$status" = "${sig#*:}" ] || fail "SIG${sig%:*}: status $status (want ${sig#*:})"
  [ "$(cat int.exe)" = 'old output' ] || fail "SIG${sig%:*}: the old output changed"
  no_part "$work" "SIG${sig%:*}"
done
# A full disk: the failure names the file and the system's reason; nothing
# is left and the old output stays.
mkdir small
if mount -t tmpfs -o size=1m tmpfs small 2>/dev/null; then
  mounted=$work/small
  head -c 3000000 /dev/urandom >big/random.bin
  printf 'old output' >small/full.exe
  run 1 "cannot write '.*small/full\.exe\..*\.part': .*No space left on device" \
    create -q -o small/full.exe --stub "$stub" big
  [ "$(cat small/full.exe)" = 'old output' ] || fail "full disk: the old output changed"
  no_part "$work/small" "full disk"
  umount small && mounted=
  rm big/random.bin
else
  echo "SKIP: full disk (cannot mount a tmpfs here)"
fi

# --- Usage mistakes fail fast, nothing written -------------------------------
run 2 "nothing to pack" create -o none.exe --stub "$stub"
[ ! -e none.exe ] || fail "create without inputs wrote its output"
run 2 "-o -: the output must be a file" create -o - --stub "$stub" in
[ ! -e - ] || fail "-o - wrote a file named -"
printf 'secret' >in/locked.txt
chmod 000 in/locked.txt
as_other=()
if [ "$(id -u)" = 0 ]; then
  command -v setpriv >/dev/null && as_other=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  # Another user must be able to run the packer and read the folder.
  if [ ${#as_other[@]} -gt 0 ] && ! "${as_other[@]}" "$pack" --version >/dev/null 2>&1; then
    as_other=()
  fi
fi
if [ "$(id -u)" != 0 ] || [ ${#as_other[@]} -gt 0 ]; then
  out=$("${as_other[@]}" "$pack" create --dry-run in 2>&1)
  status=$?
  [ "$status" = 1 ] && grep -q "cannot read 'in/locked.txt': Permission denied" <<<"$out" ||
    fail "--dry-run with an unreadable input: status $status: $out"
else
  echo "SKIP: unreadable input (running as root, and no other user can run the packer)"
fi
rm -f in/locked.txt

# --- Stubs are checked ---------------------------------------------------------
run 0 "" create -q -o packed.exe --stub "$stub" in
run 1 "--stub packed.exe: it carries a payload already" create -o x.exe --stub packed.exe in
# Malformed stubs: a console program, section data inside the headers, and
# headers that claim more than the file holds.
poke() { printf "$2" | dd of="$1" bs=1 seek=$(($3)) conv=notrunc status=none; }
cp "$stub" console.exe && poke console.exe '\x03' 0x98+68
cp "$stub" inside.exe && poke inside.exe '\x00\x00' 0x178+20
cp "$stub" claims.exe && poke claims.exe '\x00\x10' 0x98+60
for c in "console.exe|not a Windows GUI executable" \
  "inside.exe|lies inside the headers" "claims.exe|more than the file"; do
  f=${c%%|*}
  run 1 "--stub $f: .*${c#*|}" create -o x.exe --stub "$f" in
  run 1 "stub: refused as --stub: .*${c#*|}" info "$f"
done
[ ! -e x.exe ] || fail "a refused stub produced an output"
run 0 "^payload: none" info "$stub"

# --- extract stays inside -C -----------------------------------------------------
mkdir -p src/link src/sub outside
printf 'new a' >src/a.txt
printf 'new f' >src/link/f.txt
printf 'new s' >src/sub/s.txt
run 0 "" create -q -o t.exe --stub "$stub" src
# A file link and a folder link already in the target: refused, named,
# nothing written through them (with --overwrite too).
for policy in "" --overwrite --skip-existing; do
  rm -rf dest
  mkdir dest
  printf 'victim' >victim.txt
  ln -s ../victim.txt dest/a.txt
  ln -s ../outside dest/link
  run 1 "'dest/(a\.txt|link)' is a symbolic link" extract t.exe -C dest $policy
  [ "$(cat victim.txt)" = victim ] || fail "extract $policy wrote through a file link"
  [ -z "$(ls -A outside)" ] || fail "extract $policy wrote through a folder link: $(ls outside)"
done
# Existing files: refused and listed before anything is written...
rm -rf dest
mkdir -p dest/sub
printf 'mine' >dest/sub/s.txt
printf 'mine, read-only' >dest/a.txt
chmod 444 dest/a.txt
run 1 "2 files exist already in 'dest'; nothing was written" extract t.exe -C dest
grep -q "'dest/a.txt' exists already" <<<"$out" && grep -q "'dest/sub/s.txt' exists already" <<<"$out" ||
  fail "the existing files are not listed: $out"
[ ! -e dest/link ] || fail "the refused extraction wrote dest/link"
# ... kept with --skip-existing while the others are written ...
run 0 "kept 2 existing files" extract t.exe -C dest --skip-existing
[ "$(cat dest/a.txt)" = 'mine, read-only' ] && [ "$(cat dest/sub/s.txt)" = mine ] ||
  fail "--skip-existing replaced a file"
[ "$(cat dest/link/f.txt)" = 'new f' ] || fail "--skip-existing did not write the new file"
# ... and replaced with --overwrite.
run 0 "" extract t.exe -C dest --overwrite
[ "$(cat dest/a.txt)" = 'new a' ] && [ "$(cat dest/sub/s.txt)" = 'new s' ] ||
  fail "--overwrite did not replace the files"
run 2 "either --overwrite or --skip-existing" extract t.exe -C dest --overwrite --skip-existing
# An empty or new target needs no policy.
run 0 "" extract t.exe -C fresh

# --- Messages name the file and the reason -----------------------------------------
run 1 "cannot read '.*nothere\.exe': No such file or directory" test nothere.exe
payload=$("$pack" info t.exe | sed -nE 's/^payload: offset ([0-9]+),.*/\1/p')
cp t.exe flipped.exe
poke flipped.exe '\x01' "$payload"+12  # the encryption flag
run 1 "t.exe|flipped.exe: the self-extractor is damaged" test flipped.exe
grep -q 'give --password' <<<"$out" && fail "a flipped header byte asks for a password: $out"
head -c $(($(stat -c %s t.exe) - 30)) t.exe >cut.exe
run 1 "damaged|incomplete" test cut.exe

# --- -q and -v for list, test and extract ------------------------------------------
[ "$("$pack" list -q t.exe | grep -c 'type\|files,')" = 0 ] || fail "list -q prints a header or a total"
[ "$("$pack" list -q t.exe | wc -l)" = 5 ] || fail "list -q does not list every entry"
[ -z "$("$pack" test -q t.exe)" ] || fail "test -q prints a summary"
run 0 "kept 'dest/a.txt'" extract -v t.exe -C dest --skip-existing

[ "$failures" = 0 ] && echo "sfxpack safety: all checks passed"
exit $((failures != 0))
