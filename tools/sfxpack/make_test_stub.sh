#!/usr/bin/env bash
# Writes the smallest stub sfxpack accepts to $1: a PE32 Windows GUI image of
# 1,024 bytes (headers and one .text section of zeros) that runs nothing. For
# tests and benchmarks of the packer that need no working stub.
set -eu
out=$1
poke() {  # poke OFFSET HEX-BYTES...
  local at=$1
  shift
  local b
  for b in "$@"; do
    printf "\\x$b" | dd of="$out" bs=1 seek=$((at)) conv=notrunc status=none
    at=$((at + 1))
  done
}
le32() { printf '%02x %02x %02x %02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
head -c 1024 /dev/zero >"$out"
poke 0 4d 5a                          # MZ
poke 0x3c $(le32 0x80)                # e_lfanew
poke 0x80 50 45 00 00                 # PE signature
poke 0x84 4c 01 01 00                 # i386, one section
poke 0x94 e0 00 02 01                 # optional header size, executable 32-bit
opt=0x98
poke $opt 0b 01                       # PE32
poke $((opt + 4)) $(le32 0x200)       # SizeOfCode
poke $((opt + 16)) $(le32 0x1000)     # AddressOfEntryPoint
poke $((opt + 20)) $(le32 0x1000)     # BaseOfCode
poke $((opt + 28)) $(le32 0x400000)   # ImageBase
poke $((opt + 32)) $(le32 0x1000)     # SectionAlignment
poke $((opt + 36)) $(le32 0x200)      # FileAlignment
poke $((opt + 40)) 04 00              # OS version 4.0
poke $((opt + 48)) 04 00              # subsystem version 4.0
poke $((opt + 56)) $(le32 0x2000)     # SizeOfImage
poke $((opt + 60)) $(le32 0x200)      # SizeOfHeaders
poke $((opt + 68)) 02 00              # Windows GUI
poke $((opt + 72)) $(le32 0x100000)   # stack reserve
poke $((opt + 76)) $(le32 0x1000)     # stack commit
poke $((opt + 80)) $(le32 0x100000)   # heap reserve
poke $((opt + 84)) $(le32 0x1000)     # heap commit
poke $((opt + 92)) $(le32 16)         # NumberOfRvaAndSizes
sec=$((opt + 0xe0))
poke $sec 2e 74 65 78 74              # .text
poke $((sec + 8)) $(le32 0x200)       # VirtualSize
poke $((sec + 12)) $(le32 0x1000)     # VirtualAddress
poke $((sec + 16)) $(le32 0x200)      # SizeOfRawData
poke $((sec + 20)) $(le32 0x200)      # PointerToRawData
poke $((sec + 36)) $(le32 0x60000020) # code, execute, read
