#!/usr/bin/env bash
# Round trips through the packer and the stub's reader: a real folder packed
# plain and encrypted at each key length comes back byte for byte from
# "extract", with the modification times of its files and directories;
# "test" and "list" agree;
# a damaged or cut payload makes "test" fail.
set -u
pack=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# The tree: nested and empty directories, empty files, a 50 MB file of mixed
# content (text, zeros and random bytes), Unicode names, a dot file and a
# path longer than 260 characters.
in=$work/in
mkdir -p "$in/nested/a/b/c" "$in/empty dir" "$in/nested/empty" \
  "$in/ünïcödé/日本語" "$in/.hidden"
: >"$in/empty.txt"
: >"$in/nested/a/b/c/empty.bin"
printf 'hello\n' >"$in/nested/a/b/c/hello.txt"
printf 'Grüße, 世界 🙂\n' >"$in/ünïcödé/日本語/名前.txt"
printf 'dot\n' >"$in/.hidden/.profile"
long=$in
for i in 1 2 3 4 5; do
  long=$long/directory-level-$i-with-a-rather-long-name-to-pass-the-old-limit
done
mkdir -p "$long"
printf 'deep\n' >"$long/file-at-the-end-of-a-long-path.txt"
big=$in/nested/big.bin
{
  seq 1 2000000                                  # about 15 MB of text
  head -c $((16 << 20)) /dev/zero                # a long run
  head -c $((12 << 20)) /dev/urandom             # incompressible
  seq 3000000 3800000                            # text again
} >"$big"
truncate -s $((50 << 20)) "$big"
# The big file's CRC-32, from the trailer gzip writes (little-endian).
big_crc=$(gzip -1 -c "$big" | tail -c 8 | head -c 4 | od -An -tx4 | tr -d ' ')
rel=${long#"$in"/}
[ ${#rel} -gt 260 ] || fail "test tree: long path is only ${#rel} characters"
# Whole-second times, one in winter and one in summer.
touch -d '2021-01-05 08:09:10' "$in/nested/a/b/c/hello.txt" "$big"
touch -d '2022-07-15 12:34:56' "$in/ünïcödé/日本語/名前.txt" "$in/empty.txt"
# Each directory its own whole-second time, set deepest first once
# everything is in place, so that nothing changes them afterwards.
i=0
while IFS= read -r -d '' d; do
  i=$((i + 1))
  touch -d "@$((1600000000 + i * 3607))" "$d"
done < <(find "$in" -mindepth 1 -depth -type d -print0)

bash "$(dirname "$0")/make_test_stub.sh" "$work/stub.exe"
files_of() { (cd "$1" && find . -type f | LC_ALL=C sort); }
dirs_of() { (cd "$1" && find . -mindepth 1 -type d | LC_ALL=C sort); }
expected_files=$(files_of "$in")
expected_dirs=$(dirs_of "$in")
expected_bytes=$(cd "$in" && find . -type f -printf '%s\n' | awk '{s += $1} END {print s}')
nfiles=$(wc -l <<<"$expected_files")

n=0
for keyBits in none 128 192 256; do
  n=$((n + 1))
  exe=$work/t$n.exe
  pw=()
  [ "$keyBits" = none ] || pw=(--password "pässwörd $keyBits")
  opts=("${pw[@]}")
  [ "$keyBits" = none ] || opts+=(--key-bits "$keyBits")
  # Both password schemes: the earlier one, the salted one with a low count
  # and with the default count.
  [ "$keyBits" = 128 ] && opts+=(--legacy-encryption)
  [ "$keyBits" = 192 ] && opts+=(--kdf-iterations 2000)
  if ! "$pack" create -q -o "$exe" --stub "$work/stub.exe" "${opts[@]}" "$in"; then
    fail "$keyBits: create"
    continue
  fi
  out=$("$pack" test "$exe" "${pw[@]}" 2>&1) || fail "$keyBits: test: $out"
  grep -q "OK, $nfiles files" <<<"$out" || fail "$keyBits: test counts: $out"

  listing=$("$pack" list "$exe" "${pw[@]}" 2>&1) || fail "$keyBits: list: $listing"
  tail -n 1 <<<"$listing" | grep -q "^$nfiles files, .* $expected_bytes bytes$" ||
    fail "$keyBits: list total: $(tail -n 1 <<<"$listing")"
  grep -qE "^file +$((50 << 20))  2021-01-05 08:09:10  0x00000020  $big_crc  nested/big.bin$" \
    <<<"$listing" || fail "$keyBits: list line of the big file"
  grep -qE "^dir +-  .*  0x00000010  -         ünïcödé/日本語$" <<<"$listing" ||
    fail "$keyBits: list line of a Unicode directory"

  dest=$work/out$n  # a directory never used before
  out=$("$pack" extract "$exe" -C "$dest" "${pw[@]}" 2>&1) || fail "$keyBits: extract: $out"
  [ "$(files_of "$dest")" = "$expected_files" ] || fail "$keyBits: file list differs"
  [ "$(dirs_of "$dest")" = "$expected_dirs" ] || fail "$keyBits: directory list differs"
  diff -r "$in" "$dest" >/dev/null || fail "$keyBits: contents differ"
  # One decoding thread, or three, give the same files.
  threads=$((n % 2 == 0 ? 1 : 3))
  out=$("$pack" extract "$exe" -C "$dest-t$threads" --threads "$threads" "${pw[@]}" 2>&1) ||
    fail "$keyBits: extract --threads $threads: $out"
  diff -r "$in" "$dest-t$threads" >/dev/null || fail "$keyBits: contents differ with --threads $threads"
  rm -rf "$dest-t$threads"
  while IFS= read -r f; do
    [ "$(stat -c %Y "$in/$f")" = "$(stat -c %Y "$dest/$f")" ] ||
      fail "$keyBits: time of $f: $(stat -c %y "$dest/$f")"
  done <<<"$expected_files"
  while IFS= read -r d; do
    [ "$(stat -c %Y "$in/$d")" = "$(stat -c %Y "$dest/$d")" ] ||
      fail "$keyBits: time of directory $d: $(stat -c %y "$dest/$d")"
  done <<<"$expected_dirs"
done

# A payload is whole only up to its end-of-archive record, and every chunk
# must decode: a flipped byte inside a chunk and a cut file fail "test".
printf 'x%.0s' $(seq 1 200) >"$work/text.txt"
"$pack" create -q -o "$work/d.exe" --stub "$work/stub.exe" "$work/text.txt"
size=$(stat -c %s "$work/d.exe")
cp "$work/d.exe" "$work/cut.exe"
truncate -s $((size - 3)) "$work/cut.exe"
out=$("$pack" test "$work/cut.exe" 2>&1) && fail "cut payload passed the test: $out"
# The deflated chunk of text.txt ends just before the file's size word of 0
# and the 5-byte end record; its own size word stands in front of it. Filled
# with 0xff it starts a block of the reserved type.
le32_at() { od -An -tu4 -j "$1" -N4 "$2" | tr -d ' '; }
chunk=0
for len in $(seq 1 64); do
  if [ "$(le32_at $((size - 9 - len - 4)) "$work/d.exe")" = "$len" ]; then
    chunk=$len
    break
  fi
done
[ "$chunk" -gt 0 ] || fail "chunk of text.txt not found"
cp "$work/d.exe" "$work/bad.exe"
head -c "$chunk" /dev/zero | tr '\0' '\377' |
  dd of="$work/bad.exe" bs=1 seek=$((size - 9 - chunk)) conv=notrunc status=none
out=$("$pack" test "$work/bad.exe" 2>&1) && fail "damaged chunk passed the test: $out"
grep -q "Failed to inflate compressed data" <<<"$out" || fail "damaged chunk: $out"
"$pack" test "$work/d.exe" >/dev/null || fail "undamaged copy failed the test"

[ "$failures" = 0 ] && echo "round trips: all checks passed"
exit $((failures != 0))
