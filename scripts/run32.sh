#!/usr/bin/env bash
# run32.sh COMMAND [ARG...]: runs COMMAND where 32-bit x86 programs start,
# and exits with its code.
#
# COMMAND always runs in a private PID and mount namespace with a /proc of
# its own, on both kinds of kernel. So the promise is the same everywhere:
# every process COMMAND leaves behind (a persistent wineserver, the Wine
# services, a detached child) ends when COMMAND ends, and a signal to
# run32.sh (INT, TERM, HUP: a test runner's time-out, say) ends COMMAND and
# all it started; the exit code is COMMAND's, or 128 + the signal's number.
#
# The two kinds differ only in how a 32-bit program starts:
# - direct: the kernel runs 32-bit programs itself; nothing is registered.
# - emulated: the kernel's 32-bit ABI is switched off. The namespace is also
#   a user namespace, in which binfmt_misc is mounted afresh and the i386
#   user-mode emulator is registered for 32-bit ELF programs (F flag: the
#   interpreter is opened once, at registration). User and group ids are
#   mapped one to one for all ids, written from outside, so files keep their
#   owners inside. Needs qemu-user (see scripts/setup.sh).
# Nothing is ever registered on the host, so other programs' detection of
# 32-bit support is not disturbed.
#
# The way is chosen from the kernel. SFX_RUN32_MODE=direct or emulated
# forces one (for scripts/run32_test.sh, which checks both ways on either
# kind of kernel, and for 64-bit programs, which need no emulator:
# SFX_RUN32_MODE=direct gives them the same clean-up). SFX_QEMU_I386 names
# another emulator binary. Needs root.
set -euo pipefail

(($#)) || { echo "usage: run32.sh COMMAND [ARG...]" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "run32: needs root to build the namespace" >&2; exit 125; }

mode=${SFX_RUN32_MODE:-}
if [ -z "$mode" ]; then
  if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then mode=direct; else mode=emulated; fi
fi
case $mode in
  direct | emulated) ;;
  *) echo "run32: SFX_RUN32_MODE must be direct or emulated, not '$mode'" >&2; exit 2 ;;
esac

qemu=${SFX_QEMU_I386:-/usr/bin/qemu-i386}
if [ "$mode" = emulated ] && [ ! -x "$qemu" ]; then
  echo "run32: $qemu is missing (run scripts/setup.sh as root)" >&2
  exit 125
fi

# The i386 ELF header: class 32-bit, little-endian, version 1, type
# executable or shared object (the mask lets 2 and 3 through), machine 3.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# Inside: (emulated) wait for the id maps; mount a /proc of the new PID
# namespace; (emulated) mount a binfmt_misc of the new user namespace over it
# and register the emulator; run COMMAND. This shell stays the namespace's
# first process (which ignores the signals it has no handler for), so
# COMMAND is an ordinary process that a signal can end; when it returns,
# the namespace ends and every process left in it is killed by the kernel.
inner='
  if [ "$SFX_RUN32_INNER_MODE" = emulated ]; then
    until read -r line </proc/self/uid_map && [ -n "$line" ]; do sleep 0.01; done
  fi
  mount -t proc proc /proc
  if [ "$SFX_RUN32_INNER_MODE" = emulated ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
    printf "%s" ":qemu-i386:M::$SFX_RUN32_MAGIC:$SFX_RUN32_MASK:$SFX_RUN32_QEMU:F" \
      >/proc/sys/fs/binfmt_misc/register
  fi
  unset SFX_RUN32_MAGIC SFX_RUN32_MASK SFX_RUN32_QEMU SFX_RUN32_INNER_MODE line
  "$@"
  exit $?'
ns=(--mount --pid --fork --kill-child --propagation private)
[ "$mode" = direct ] || ns=(--user "${ns[@]}")
SFX_RUN32_INNER_MODE=$mode SFX_RUN32_MAGIC=$magic SFX_RUN32_MASK=$mask SFX_RUN32_QEMU=$qemu \
  unshare "${ns[@]}" -- bash -c "$inner" run32 "$@" &
pid=$!
if [ "$mode" = emulated ]; then
  # unshare enters the new user namespace before it forks COMMAND's process.
  own=$(readlink /proc/self/ns/user)
  for _ in $(seq 500); do
    userns=$(readlink "/proc/$pid/ns/user" 2>/dev/null) || break
    [ "$userns" = "$own" ] || break
    sleep 0.01
  done
  if [ -n "${userns:-}" ] && [ "$userns" != "$own" ]; then
    echo "0 0 4294967295" >"/proc/$pid/uid_map"
    echo "0 0 4294967295" >"/proc/$pid/gid_map"
  else
    echo "run32: the namespace could not be set up" >&2
    kill "$pid" 2>/dev/null || true
  fi
fi
# Our signals end COMMAND's namespace: unshare ignores them while it waits,
# so its child, the namespace's first process, is killed, and every process
# of the namespace with it. The exit code then says which signal it was.
end_namespace() {
  local child
  for child in $(cat "/proc/$pid/task/$pid/children" 2>/dev/null); do
    kill -KILL "$child" 2>/dev/null || true
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  exit $((128 + $1))
}
trap 'end_namespace 2' INT
trap 'end_namespace 15' TERM
trap 'end_namespace 1' HUP
rc=0
wait "$pid" || rc=$?
exit "$rc"
