#!/usr/bin/env bash
# run32.sh COMMAND [ARG...]: runs COMMAND where 32-bit x86 programs start,
# and exits with its code.
#
# Where the kernel runs them itself, COMMAND simply runs. Where it does not
# (its 32-bit ABI switched off), COMMAND runs in a private user, mount and
# PID namespace in which binfmt_misc is mounted afresh and the i386 user-mode
# emulator is registered for 32-bit ELF programs (F flag: the interpreter is
# opened once, at registration). Nothing is registered on the host, so other
# programs' detection of 32-bit support is not disturbed, and every process
# COMMAND leaves behind (a persistent wineserver, say) ends with it, since
# the namespace's first process waits for COMMAND and then ends.
#
# User and group ids are mapped one to one for all ids, written from outside;
# so files keep their owners inside. Needs root and qemu-user (see
# scripts/setup.sh). SFX_QEMU_I386 names another emulator binary.
set -euo pipefail

(($#)) || { echo "usage: run32.sh COMMAND [ARG...]" >&2; exit 2; }
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  exec "$@"
fi
qemu=${SFX_QEMU_I386:-/usr/bin/qemu-i386}
[ -x "$qemu" ] || { echo "run32: $qemu is missing (run scripts/setup.sh as root)" >&2; exit 125; }
[ "$(id -u)" = 0 ] || { echo "run32: needs root to map the ids of the namespace" >&2; exit 125; }

# The i386 ELF header: class 32-bit, little-endian, version 1, type
# executable or shared object (the mask lets 2 and 3 through), machine 3.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# Inside: wait for the id maps, mount a /proc of the new PID namespace and a
# binfmt_misc of the new user namespace over it, register, run COMMAND. This
# shell stays the namespace's first process (which ignores the signals it has
# no handler for), so COMMAND is an ordinary process that a signal can end.
inner='
  until read -r line </proc/self/uid_map && [ -n "$line" ]; do sleep 0.01; done
  mount -t proc proc /proc
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  printf "%s" ":qemu-i386:M::$SFX_RUN32_MAGIC:$SFX_RUN32_MASK:$SFX_RUN32_QEMU:F" \
    >/proc/sys/fs/binfmt_misc/register
  unset SFX_RUN32_MAGIC SFX_RUN32_MASK SFX_RUN32_QEMU line
  "$@"
  exit $?'
SFX_RUN32_MAGIC=$magic SFX_RUN32_MASK=$mask SFX_RUN32_QEMU=$qemu \
  unshare --user --mount --pid --fork --kill-child --propagation private \
  -- bash -c "$inner" run32 "$@" &
pid=$!
# unshare enters the new user namespace before it forks COMMAND's process.
own=$(readlink /proc/self/ns/user)
for _ in $(seq 500); do
  ns=$(readlink "/proc/$pid/ns/user" 2>/dev/null) || break
  [ "$ns" = "$own" ] || break
  sleep 0.01
done
if [ -n "${ns:-}" ] && [ "$ns" != "$own" ]; then
  echo "0 0 4294967295" >"/proc/$pid/uid_map"
  echo "0 0 4294967295" >"/proc/$pid/gid_map"
else
  echo "run32: the namespace could not be set up" >&2
  kill "$pid" 2>/dev/null || true
fi
# Our signals end COMMAND's namespace: unshare ignores them while it waits,
# so its child, the namespace's first process, is killed, and every process
# of the namespace with it.
end_namespace() {
  local child
  for child in $(cat "/proc/$pid/task/$pid/children" 2>/dev/null); do
    kill -KILL "$child" 2>/dev/null || true
  done
  kill "$pid" 2>/dev/null || true
}
trap end_namespace INT TERM HUP
rc=0
wait "$pid" || rc=$?
exit "$rc"
