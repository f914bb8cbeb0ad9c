#!/usr/bin/env bash
# Tests of scripts/run32.sh, both ways it can run a command (direct, where
# the kernel runs 32-bit programs, and emulated, through qemu-i386 in a user
# namespace), on either kind of kernel: the way the kernel asks for always,
# the other one forced with SFX_RUN32_MODE where it can run here.
# Each way: COMMAND's exit code and arguments come through, ids keep their
# owners, nothing is registered on the host, and nothing COMMAND started is
# left running after it ends or after run32.sh is signalled. A 32-bit
# program starts where that way can start one; emulated, the handler is
# registered inside. A check that cannot hold on this machine is skipped
# with a line that says why.
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
skipped=0
check() {  # check ok|no MESSAGE: counts a result, prints MESSAGE when it is not ok
  if [ "$1" = ok ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $mode: $2" >&2; fi
}
skip() { skipped=$((skipped + 1)); echo "skipped: $mode: $1"; }
outcome() { if "$@"; then echo ok; else echo no; fi; }
host_binfmt() { ls -A /proc/sys/fs/binfmt_misc 2>/dev/null | sort | tr '\n' ' '; }
run() { SFX_RUN32_MODE=$mode "$run32" "$@"; }  # (background runs call run32.sh itself, so that $! is its pid)

if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  kernel=direct
  echo "run32_test: this kernel runs 32-bit programs (run32.sh's way: direct)"
else
  kernel=emulated
  echo "run32_test: this kernel runs no 32-bit programs (run32.sh's way: emulated)"
fi
qemu=${SFX_QEMU_I386:-/usr/bin/qemu-i386}

for mode in direct emulated; do
  if [ "$mode" = emulated ] && [ ! -x "$qemu" ]; then
    mode=emulated skip "the emulated way: $qemu is not installed (scripts/setup.sh installs it only where the kernel runs no 32-bit programs)"
    continue
  fi
  if [ "$mode" = "$kernel" ]; then echo "-- $mode (this kernel's way)"; else echo "-- $mode (forced with SFX_RUN32_MODE=$mode)"; fi

  # A 32-bit program starts, and keeps starting from a child process.
  if [ "$mode" = emulated ] || [ "$kernel" = direct ]; then
    out=$(run bash -c '/lib/ld-linux.so.2 --version' 2>&1 | head -n 1)
    check "$(outcome grep -q '^ld.so' <<<"$out")" "a 32-bit program did not start: $out"
  else
    skip "a 32-bit program cannot start directly on this kernel"
  fi

  # Exit codes, including one past 127 and death by a signal.
  for pair in 'exit 0=0' 'exit 1=1' 'exit 42=42' 'exit 255=255' 'kill -KILL $$=137' 'kill -TERM $$=143'; do
    rc=0
    run bash -c "${pair%=*}" || rc=$?
    check "$(outcome [ "$rc" = "${pair##*=}" ])" "'${pair%=*}' ended with $rc, not ${pair##*=}"
  done

  # Arguments with spaces, quotes and an empty one.
  out=$(run printf '[%s]' 'a b' '' "it's" '$HOME')
  check "$(outcome [ "$out" = "[a b][][it's][\$HOME]" ])" "arguments arrived as $out"

  # Ids: a file's owner inside is its owner outside.
  touch "$tmp/owned"
  chown 1234:2345 "$tmp/owned"
  out=$(run stat -c %u:%g "$tmp/owned")
  check "$(outcome [ "$out" = 1234:2345 ])" "a file of 1234:2345 is owned by $out inside"

  # During the run the host's binfmt_misc is as it was; inside, emulated,
  # the handler is there. The command signals that it runs, then waits for
  # our word.
  before=$(host_binfmt)
  rm -f "$tmp/ready" "$tmp/go" "$tmp/inside"
  mkfifo "$tmp/ready" "$tmp/go"
  SFX_RUN32_MODE=$mode "$run32" bash -c 'cat /proc/sys/fs/binfmt_misc/qemu-i386 >"$1/inside" 2>/dev/null; echo >"$1/ready"; read -r _ <"$1/go"' \
    run "$tmp" &
  runner=$!
  read -r _ <"$tmp/ready"
  during=$(host_binfmt)
  echo >"$tmp/go"
  wait "$runner"
  after=$(host_binfmt)
  if [ "$mode" = emulated ]; then
    check "$(outcome grep -q '^flags: F' "$tmp/inside")" "no F-flag handler inside: $(cat "$tmp/inside")"
  fi
  check "$(outcome [ "$during" = "$before" ])" "the host's binfmt_misc changed during the run: '$before' -> '$during'"
  check "$(outcome [ "$after" = "$before" ])" "the host's binfmt_misc changed after the run: '$before' -> '$after'"

  # A process left in the background inside ends with the command, even one
  # that left the command's session (as a daemon such as wineserver does).
  marker="run32_test_left_behind_${mode}_$$"
  run bash -c "(exec -a $marker sleep 600) & setsid -f bash -c 'exec -a ${marker}_daemon sleep 600'; exit 0"
  for _ in $(seq 50); do pgrep -f "$marker" >/dev/null || break; sleep 0.1; done
  left=$(pgrep -f "$marker" || true)
  check "$(outcome [ -z "$left" ])" "a background process outlived the command: $left"
  [ -z "$left" ] || kill $left 2>/dev/null

  # A signal to run32.sh ends COMMAND and all it started, and the exit code
  # names the signal. (Job control, so that the background run32.sh does not
  # start with SIGINT ignored; and the signal's default handling, since a
  # shell cannot trap a signal it was started with ignored: under nohup,
  # SIGHUP is.)
  set -m
  for sig in TERM INT HUP; do
    marker="run32_test_signalled_${mode}_${sig}_$$"
    rm -f "$tmp/up"
    mkfifo "$tmp/up"
    SFX_RUN32_MODE=$mode env --default-signal="$sig" "$run32" \
      bash -c "(exec -a $marker sleep 600) & echo >'$tmp/up'; wait" &
    runner=$!
    read -r _ <"$tmp/up"
    kill -"$sig" "$runner"
    rc=0
    wait "$runner" || rc=$?
    for _ in $(seq 50); do pgrep -f "$marker" >/dev/null || break; sleep 0.1; done
    left=$(pgrep -f "$marker" || true)
    want=$((128 + $(kill -l "$sig")))
    check "$(outcome [ -z "$left" ])" "a process outlived run32.sh signalled with $sig: $left"
    check "$(outcome [ "$rc" = "$want" ])" "run32.sh signalled with $sig ended with $rc, not $want"
    [ -z "$left" ] || kill $left 2>/dev/null
  done
  set +m
done

# A way that is not known is a usage error.
rc=0
SFX_RUN32_MODE=sideways "$run32" true 2>/dev/null || rc=$?
mode=any check "$(outcome [ "$rc" = 2 ])" "SFX_RUN32_MODE=sideways ended with $rc, not 2"

echo "run32: $passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
