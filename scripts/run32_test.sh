#!/usr/bin/env bash
# Tests of scripts/run32.sh: a 32-bit program starts inside, COMMAND's exit
# code and arguments come through, ids keep their owners, and nothing is
# registered on the host or left running there, during the run or after it.
# Exit 77 (skipped) without root or without a 32-bit C library to start.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
run32="$here/run32.sh"
[ "$(id -u)" = 0 ] || { echo "run32_test: needs root; skipped"; exit 77; }
[ -e /lib/ld-linux.so.2 ] || { echo "run32_test: no 32-bit C library; skipped"; exit 77; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
passed=0
failed=0
check() {  # check ok|no MESSAGE: counts a result, prints MESSAGE when it is not ok
  if [ "$1" = ok ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $2" >&2; fi
}
outcome() { if "$@"; then echo ok; else echo no; fi; }
host_binfmt() { ls -A /proc/sys/fs/binfmt_misc 2>/dev/null | sort | tr '\n' ' '; }

# A 32-bit program starts, and keeps starting from a child process.
out=$("$run32" bash -c '/lib/ld-linux.so.2 --version' 2>&1 | head -n 1)
check "$(outcome grep -q '^ld.so' <<<"$out")" "a 32-bit program did not start: $out"

# Exit codes, including one past 127 and death by a signal.
for pair in 'exit 0=0' 'exit 1=1' 'exit 42=42' 'exit 255=255' 'kill -KILL $$=137' 'kill -TERM $$=143'; do
  rc=0
  "$run32" bash -c "${pair%=*}" || rc=$?
  check "$(outcome [ "$rc" = "${pair##*=}" ])" "'${pair%=*}' ended with $rc, not ${pair##*=}"
done

# Arguments with spaces, quotes and an empty one.
out=$("$run32" printf '[%s]' 'a b' '' "it's" '$HOME')
check "$(outcome [ "$out" = "[a b][][it's][\$HOME]" ])" "arguments arrived as $out"

# Ids map one to one: a file's owner inside is its owner outside.
touch "$tmp/owned"
chown 1234:2345 "$tmp/owned"
out=$("$run32" stat -c %u:%g "$tmp/owned")
check "$(outcome [ "$out" = 1234:2345 ])" "a file of 1234:2345 is owned by $out inside"

# During the run the host's binfmt_misc is as it was; inside, the handler is
# there. The command signals that it runs, then waits for our word.
before=$(host_binfmt)
mkfifo "$tmp/ready" "$tmp/go"
"$run32" bash -c 'cat /proc/sys/fs/binfmt_misc/qemu-i386 >"$1/inside"; echo >"$1/ready"; read -r _ <"$1/go"' \
  run "$tmp" &
runner=$!
read -r _ <"$tmp/ready"
during=$(host_binfmt)
echo >"$tmp/go"
wait "$runner"
after=$(host_binfmt)
check "$(outcome grep -q '^flags: F' "$tmp/inside")" "no F-flag handler inside: $(cat "$tmp/inside")"
check "$(outcome [ "$during" = "$before" ])" "the host's binfmt_misc changed during the run: '$before' -> '$during'"
check "$(outcome [ "$after" = "$before" ])" "the host's binfmt_misc changed after the run: '$before' -> '$after'"

# A process left in the background inside ends with the command.
marker="run32_test_left_behind_$$"
"$run32" bash -c "(exec -a $marker sleep 600) & echo \$! >'$tmp/left'; exit 0"
for _ in $(seq 50); do pgrep -f "$marker" >/dev/null || break; sleep 0.1; done
left=$(pgrep -f "$marker" || true)
check "$(outcome [ -z "$left" ])" "a background process outlived the command: $left"
[ -z "$left" ] || kill $left 2>/dev/null

# A signal to run32.sh ends COMMAND and all it started (a test runner's
# time-out, say), and the exit code says so.
marker="run32_test_signalled_$$"
mkfifo "$tmp/up"
"$run32" bash -c "(exec -a $marker sleep 600) & echo >'$tmp/up'; wait" &
runner=$!
read -r _ <"$tmp/up"
kill -TERM "$runner"
rc=0
wait "$runner" || rc=$?
for _ in $(seq 50); do pgrep -f "$marker" >/dev/null || break; sleep 0.1; done
left=$(pgrep -f "$marker" || true)
check "$(outcome [ -z "$left" ])" "a process outlived a signalled run32.sh: $left"
check "$(outcome [ "$rc" != 0 ])" "a signalled run32.sh ended with 0"
[ -z "$left" ] || kill $left 2>/dev/null

echo "run32: $passed passed, $failed failed"
[ "$failed" = 0 ]
