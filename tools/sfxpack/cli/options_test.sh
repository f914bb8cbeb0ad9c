#!/usr/bin/env bash
# The packer's conventions: warnings for options without effect and the
# .exe check, the password sources (file, variable, terminal through a
# pseudo-terminal), --exclude on the command line, SOURCE_DATE_EPOCH and
# time-zone independence, and that --help, the bash completion and the
# manual page name the same options.
#   options_test.sh SFXPACK SOURCE_DIR
set -u
pack=$1
src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# run EXPECTED_STATUS ARGS...: runs sfxpack, output in $out.
run() {
  local want=$1
  shift
  out=$("$pack" "$@" 2>&1)
  local status=$?
  [ "$status" = "$want" ] || fail "sfxpack $*: status $status (want $want): $out"
}
bash "$(dirname "$0")/../make_test_stub.sh" "$work/stub.exe"
mkdir -p "$work/in/sub"
printf 'hello' >"$work/in/sub/a.txt"
printf 'more' >"$work/in/b.txt"
base=(create -q --stub "$work/stub.exe")

# --- options without effect, and the output's name -------------------------
# Each row: a warning pattern ('-' for none) and the arguments of create.
while IFS='|' read -r want args; do
  [ -n "$want" ] || continue
  eval "set -- $args"
  run 0 "${base[@]}" -o "$work/w.exe" "$@" "$work/in"
  if [ "$want" = - ]; then
    ! grep -q warning <<<"$out" || fail "create $args: unexpected warning: $out"
  else
    grep -qE -- "$want" <<<"$out" || fail "create $args: no warning '$want': $out"
  fi
done <<'ROWS'
warning: --key-bits has no effect without --password, --password-file or --password-env|--key-bits 128
-|--key-bits 128 --password pw
warning: --unzip-button has no effect without --unzip-label|--unzip-button Go
warning: --close-button has no effect without --unzip-label|--close-button Stop --temp
-|--unzip-button Go --unzip-label Folder:
warning: --main-width has no effect without --main-height|--main-width 300
warning: --set FinHeight has no effect without --finish-width|--set FinHeight=200
-|--main-width 300 --main-height 200
warning: --run-args has no effect without --run|--run-args /quiet
-|--run setup.exe --run-args /quiet
warning: --force-name has no effect|--force-name
ROWS
run 2 "${base[@]}" -o "$work/setup" "$work/in"
grep -q "does not end in .exe" <<<"$out" || fail "no .exe refusal: $out"
[ ! -e "$work/setup" ] || fail "an output without .exe was written"
run 0 "${base[@]}" -o "$work/setup.bin" --force-name "$work/in"
[ -s "$work/setup.bin" ] || fail "--force-name wrote nothing"
run 0 "${base[@]}" -o "$work/UPPER.EXE" "$work/in"

# --- password sources --------------------------------------------------------
printf 'long random words\nsecond line\n' >"$work/pw"
printf '\n' >"$work/empty-pw"
run 0 "${base[@]}" -o "$work/pf.exe" --password-file "$work/pw" "$work/in"
run 0 test "$work/pf.exe" --password "long random words"
run 0 test "$work/pf.exe" --password-file "$work/pw"
run 1 test "$work/pf.exe" --password "second line"
PW_VAR='long random words' run 0 test "$work/pf.exe" --password-env PW_VAR
export PW_VAR='long random words'
run 0 "${base[@]}" -o "$work/pe.exe" --password-env PW_VAR "$work/in"
cmp -s "$work/pf.exe" "$work/pe.exe" || true  # (IVs may differ; the test below decides)
run 0 test "$work/pe.exe" --password-file "$work/pw"
unset PW_VAR
run 1 "${base[@]}" -o "$work/x.exe" --password-env PW_VAR "$work/in"
grep -q "PW_VAR' is not set" <<<"$out" || fail "unset variable: $out"
run 1 "${base[@]}" -o "$work/x.exe" --password-file "$work/empty-pw" "$work/in"
grep -q "is empty" <<<"$out" || fail "empty password file: $out"
run 1 "${base[@]}" -o "$work/x.exe" --password-file "$work/nofile" "$work/in"
run 2 "${base[@]}" -o "$work/x.exe" --password a --password-file "$work/pw" "$work/in"
grep -q "only one of" <<<"$out" || fail "two password sources: $out"
[ ! -e "$work/x.exe" ] || fail "an archive was written without its password"
# No terminal: the prompt fails at once instead of waiting.
out=$(setsid -w "$pack" "${base[@]}" -o "$work/x.exe" --password - "$work/in" </dev/null 2>&1)
[ $? = 1 ] && grep -q "no terminal" <<<"$out" || fail "prompt without a terminal: $out"

# The prompt, through a pseudo-terminal: echo off, asked twice.
pty_run() {  # pty_run ANSWER1 ANSWER2 ARGS...: prints the terminal's output
  timeout 60 python3 - "$@" <<'PY'
import os, pty, select, signal, sys
answers, args = sys.argv[1:3], sys.argv[3:]
pid, fd = pty.fork()
if pid == 0:
    os.execv(args[0], args)
out, pending, answered = b"", list(answers), 0
while True:
    ready, _, _ = select.select([fd], [], [], 20)
    if not ready:  # a prompt that never comes, or a hang
        os.kill(pid, signal.SIGKILL)
        break
    try:
        data = os.read(fd, 1024)
    except OSError:
        break
    if not data:
        break
    out += data
    # Answer each prompt once, when it has come after the last answer.
    if pending and out[answered:].rstrip().lower().endswith(b"password:"):
        os.write(fd, pending.pop(0).encode() + b"\n")
        answered = len(out)
_, status = os.waitpid(pid, 0)
sys.stdout.write(out.decode(errors="replace"))
sys.stdout.write("\nstatus %d\n" % os.waitstatus_to_exitcode(status))
PY
}
out=$(pty_run 'typed secret' 'typed secret' "$pack" "${base[@]}" -o "$work/pt.exe" --password - "$work/in")
grep -q "^Password:" <<<"$out" && grep -q "Repeat password:" <<<"$out" ||
  fail "prompt not shown twice: $out"
! grep -q "typed secret" <<<"$out" || fail "the password was echoed: $out"
grep -q "status 0" <<<"$out" || fail "prompted create failed: $out"
run 0 test "$work/pt.exe" --password "typed secret"
out=$(pty_run 'one' 'other' "$pack" "${base[@]}" -o "$work/pm.exe" --password - "$work/in")
grep -q "the two passwords differ" <<<"$out" && grep -q "status 1" <<<"$out" ||
  fail "differing answers accepted: $out"
[ ! -e "$work/pm.exe" ] || fail "written after differing answers"
out=$(pty_run 'typed secret' '' "$pack" test "$work/pt.exe" --password -)
grep -q "status 0" <<<"$out" && ! grep -q "Repeat" <<<"$out" ||
  fail "reading commands ask once: $out"

# --- exclusion on the command line -------------------------------------------
mkdir -p "$work/ex/obj" "$work/ex/src/gen"
printf 'x' >"$work/ex/keep.txt"
printf 'x' >"$work/ex/trace.log"
printf 'x' >"$work/ex/obj/a.o"
printf 'x' >"$work/ex/src/gen/b.c"
printf 'x' >"$work/ex/src/c.c"
printf 'x' >"$work/ex/bad:name.txt"  # would be refused by the name check
printf '# build output\nobj/\n\n**/gen/\n' >"$work/patterns"
run 0 create --dry-run -x '*.log' --exclude 'bad:*' --exclude-from "$work/patterns" "$work/ex"
want="excl - bad:name.txt|excl - obj/|excl - src/gen/|excl - trace.log|file 1 keep.txt|dir - src|file 1 src/c.c|3 entries, 2 bytes; nothing written (--dry-run)"
got=$(tr -s ' ' <<<"$out" | paste -sd'|')
[ "$got" = "$want" ] || fail "--dry-run with exclusions: $got"
run 1 "${base[@]}" -o "$work/ex.exe" "$work/ex"  # the bad name, not left out
run 0 "${base[@]}" -o "$work/ex.exe" -x 'bad:*' -x '*.log' "$work/ex"
"$pack" list "$work/ex.exe" | grep -q trace.log && fail "excluded file stored"
run 2 create --dry-run -x 'a[b' "$work/ex"
run 2 create --dry-run --exclude-from "$work/nofile" "$work/ex"

# --- SOURCE_DATE_EPOCH and the time zone -------------------------------------
mkdir -p "$work/t"
printf 'old' >"$work/t/old.txt"
printf 'new' >"$work/t/new.txt"
touch -d '2001-02-03 04:05:06 UTC' "$work/t/old.txt"
epoch=1700000000  # 2023-11-14 22:13:20 UTC
for zone in UTC JST-9 EST+5; do
  SOURCE_DATE_EPOCH=$epoch TZ=$zone "$pack" "${base[@]}" -o "$work/t-$zone.exe" "$work/t" ||
    fail "create with SOURCE_DATE_EPOCH under TZ=$zone"
done
touch "$work/t/new.txt" "$work/t"
SOURCE_DATE_EPOCH=$epoch TZ=JST-9 "$pack" "${base[@]}" -o "$work/t-touched.exe" "$work/t"
for f in t-JST-9 t-EST+5 t-touched; do
  cmp -s "$work/t-UTC.exe" "$work/$f.exe" || fail "$f.exe differs from t-UTC.exe"
done
listing=$(TZ=JST-9 "$pack" list "$work/t-UTC.exe")
grep -q "2023-11-14 22:13:20 .* new.txt" <<<"$listing" || fail "time not clamped: $listing"
grep -q "2001-02-03 04:05:06 .* old.txt" <<<"$listing" || fail "old time not UTC: $listing"
# Without SOURCE_DATE_EPOCH the zone shows (this is what the above guards).
TZ=UTC "$pack" "${base[@]}" -o "$work/l1.exe" "$work/t"
TZ=JST-9 "$pack" "${base[@]}" -o "$work/l2.exe" "$work/t"
cmp -s "$work/l1.exe" "$work/l2.exe" && fail "local times ignore the time zone"
SOURCE_DATE_EPOCH=yesterday run 2 "${base[@]}" -o "$work/x.exe" "$work/t"

# --- --help, completion and manual page name the same options ----------------
help_opts=$("$pack" --help | grep -E '^  -' | cut -c3-32 | grep -oE -- '(^|[ ,])-[-A-Za-z0-9]+' |
  tr -d ' ,' | sort -u)
completion=$("$pack" --generate-completion)
comp_opts=$(grep -oE -- "(opts='|compgen -W ')[^']*" <<<"$completion" | sed -E "s/^(opts='|compgen -W ')//" |
  tr ' ' '\n' | grep -E '^-' | sort -u)
man=$("$pack" --generate-man "$src/docs/sfxpack.1") || fail "no manual page"
man_opts=$(grep -A1 '^\.TP' <<<"$man" | grep -oE '\\fB\\-[^\\]*(\\-[^\\]*)*\\fR' |
  sed -E 's/\\fB|\\fR//g; s/\\-/-/g' | grep -E '^-' | sort -u)
[ "$(wc -l <<<"$help_opts")" -gt 60 ] || fail "few options in --help: $help_opts"
[ "$help_opts" = "$comp_opts" ] ||
  fail "--help and the completion differ: $(diff <(echo "$help_opts") <(echo "$comp_opts") | grep '^[<>]')"
[ "$help_opts" = "$man_opts" ] ||
  fail "--help and the manual page differ: $(diff <(echo "$help_opts") <(echo "$man_opts") | grep '^[<>]')"
for c in create list test extract config info; do
  grep -q "^\\\\fBsfxpack $c\\\\fR" <<<"$man" || fail "manual page lacks the command $c"
done
for s in SOURCE_DATE_EPOCH TZ "EXIT STATUS" EXAMPLES "fast and unsalted"; do
  grep -q "$s" <<<"$man" || fail "manual page lacks $s"
done
"$pack" --help | grep -q "fast and unsalted" || fail "--help lacks the key derivation warning"
# The completion works in bash.
comp() {  # comp WORDS...: the completions of the last word
  bash -c 'source /dev/stdin; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _sfxpack; printf "%s\n" "${COMPREPLY[@]}"' \
    comp "$@" <<<"$completion"
}
[ "$(comp sfxpack cr | paste -sd' ')" = create ] || fail "completion of a command: $(comp sfxpack cr)"
[ "$(comp sfxpack create --exc | paste -sd' ')" = "--exclude --exclude-from" ] ||
  fail "completion of options: $(comp sfxpack create --exc)"
[ "$(comp sfxpack create --arch '' | paste -sd' ')" = "x86 x64" ] || fail "completion of --arch"
[ "$(comp sfxpack extract --exc | paste -sd' ')" = "" ] || fail "extract offers create's options"

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all passed"
