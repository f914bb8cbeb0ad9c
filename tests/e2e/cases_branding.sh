# Branding: the packager's icon, version information, manifest and title
# written into the stub by "sfxpack create". The branded file is read back by
# parsers that are not ours (binutils' objdump and windres, icoutils'
# wrestool and icotool, Windows' own version, icon and resource functions
# under Wine through sfxbrandprobe.exe), signed and verified with
# osslsigncode, and must still find its payload and extract.

brand_icon="$here/../data/branding/brand.ico"
brand_probe="$SFX_WIN32_BIN/sfxbrandprobe.exe"

# brand OUT.exe STUB [more sfxpack options...]: the example folder packed
# with every branding flag.
brand() {
  local out=$1 base=$2
  shift 2
  "$SFX_PACK" create -q -o "$out" --stub "$base" \
    --icon "$brand_icon" \
    --version-info FileVersion=4.3.2.1 \
    --version-info ProductVersion=4.3 \
    --version-info "ProductName=Acme Installer ✓" \
    --version-info "CompanyName=Acme Corp." \
    --version-info "FileDescription=Acme setup" \
    --version-info "LegalCopyright=© 2026 Acme Corp." \
    --version-info OriginalFilename=acme-setup.exe \
    --string "103=Acme Setup" \
    --elevate "$@" "$here/../../examples/hello"
}

# image_of EXE OUT: the PE image of a self-extractor without its payload.
image_of() {
  local bytes
  bytes=$("$SFX_PACK" info "$1" | sed -n 's/^image: \([0-9]*\) bytes$/\1/p')
  [ -n "$bytes" ] || fail "sfxpack info gives no image size for $1"
  head -c "$bytes" "$1" >"$2"
}

# Extracts EXE silently into SFX_WORK/NAME and compares with the example.
brand_extract() {
  local exe=$1 name=$2
  rm -rf "${SFX_WORK:?}/$name"
  wine "$exe" -unzipDir "$(winpath "$SFX_WORK/$name")" </dev/null ||
    fail "$exe exited with $?"
  diff -r "$here/../../examples/hello" "$SFX_WORK/$name" >/dev/null ||
    fail "$exe extracted a different tree"
}

case_branding_extracts() {
  # The branded self-extractor still finds its payload and extracts; Windows
  # reads the version strings, the icon and the manifest's level.
  config "$SFX_WORK/silent.xml" ShowMain=0 ShowProgress=0 ShowFin=0
  brand "$SFX_WORK/b.exe" "$stub" --config "$SFX_WORK/silent.xml"
  brand_extract "$SFX_WORK/b.exe" out
  local probe
  probe=$(wine "$brand_probe" "$(winpath "$SFX_WORK/b.exe")" | tr -d '\r')
  local want
  for want in "fixed file=4.3.2.1 product=4.3.0.0" \
    "string FileVersion=4.3.2.1" "string ProductVersion=4.3" \
    "string ProductName=Acme Installer ✓" "string CompanyName=Acme Corp." \
    "string FileDescription=Acme setup" "string LegalCopyright=© 2026 Acme Corp." \
    "string OriginalFilename=acme-setup.exe" \
    "icons 1" "icon large 32x32" "icon small 16x16" \
    "icon image 16x16" "icon image 32x32" "icon image 48x48" "icon image 256x256" \
    "manifest level=requireAdministrator"; do
    grep -qxF -- "$want" <<<"$probe" || fail "probe lacks '$want':"$'\n'"$probe"
  done
  # sfxpack info reads the same back, and the payload where the stub found it.
  local info
  info=$("$SFX_PACK" info "$SFX_WORK/b.exe")
  for want in "icon group 1, language 0x0409, 62 bytes: 16x16 32-bit, 32x32 32-bit, 48x48 32-bit, 256x256 32-bit PNG" \
    "    ProductName: Acme Installer ✓" "    103: Acme Setup" "    109: SELFEXTRACT" \
    "  <ShowMain>0</ShowMain>"; do
    grep -qF -- "$want" <<<"$info" || fail "info lacks '$want':"$'\n'"$info"
  done
  grep -qE '^  manifest 1, .*: execution level requireAdministrator$' <<<"$info" ||
    fail "info shows no elevation:"$'\n'"$info"
  local offset size
  offset=$(sed -n 's/^payload: offset \([0-9]*\), .*/\1/p' <<<"$info")
  size=$(sed -n 's/^payload: offset [0-9]*, \([0-9]*\) bytes$/\1/p' <<<"$info")
  [ "$((offset + size))" = "$(stat -c %s "$SFX_WORK/b.exe")" ] || fail "payload offset $offset size $size"
  [ "$(head -c $((offset + 8)) "$SFX_WORK/b.exe" | tail -c 8 | od -An -tx1 | tr -d ' \n')" = 07d26cbf2159abaa ] ||
    fail "no payload marker at offset $offset"
  # The window title comes from string 103: the stub's hidden window.
  echo "branded self-extractor extracts; Windows reads its branding"
}

case_branding_structure() {
  # Both stubs, PE32 and PE32+, branded and read by parsers that are not ours.
  local base tools format n=0
  local stubs=("$stub")
  [ -n "${SFX_SHIPPED_STUB:-}" ] && [ "$SFX_SHIPPED_STUB" != "$stub" ] && stubs+=("$SFX_SHIPPED_STUB")
  for base in "${stubs[@]}"; do
    n=$((n + 1))
    tools=i686-w64-mingw32 format=pei-i386
    i686-w64-mingw32-objdump -f "$base" 2>/dev/null | grep -q pei-i386 || tools=x86_64-w64-mingw32 format=pei-x86-64
    brand "$SFX_WORK/s$n.exe" "$base"
    image_of "$SFX_WORK/s$n.exe" "$SFX_WORK/s$n-image.exe"
    # The image holds no payload marker; windres decompiles it with the
    # stub's dialogs, both strings (the title replaced), the manifest, the
    # version block and the icon.
    if LC_ALL=C grep -qaP '\x07\xD2\x6C\xBF\x21\x59\xAB\xAA' "$SFX_WORK/s$n-image.exe"; then
      fail "$format: the branded image contains the payload marker"
    fi
    local rc id
    rc=$("$tools-windres" -i "$SFX_WORK/s$n-image.exe" -O rc) || fail "$format: windres failed"
    for id in 129 130 139 140; do
      grep -qE "^$id DIALOGEX" <<<"$rc" || fail "$format: no dialog resource $id"
    done
    for want in '"Acme Setup"' '"SELFEXTRACT"' 'VALUE "CompanyName", "Acme Corp."' \
      'FILEVERSION 4, 3, 2, 1' 'PRODUCTVERSION 4, 3, 0, 0'; do
      grep -qF -- "$want" <<<"$rc" || fail "$format: windres lacks $want:"$'\n'"$rc"
    done
    grep -qE '^1 24' <<<"$rc" || fail "$format: no application manifest"
    grep -qE '^1 (ICON|14)' <<<"$rc" || fail "$format: no icon group 1"
    # Every other section keeps its bytes, and all but the relocations their
    # addresses: the code and data are where the stub's code expects them.
    local sec layout_before layout_after
    for sec in $("$tools-objdump" -h "$base" | awk '$1 ~ /^[0-9]+$/ && $2 != ".rsrc" && $2 != ".bss" { print $2 }'); do
      "$tools-objcopy" -O binary --only-section="$sec" "$base" "$SFX_WORK/before.bin"
      "$tools-objcopy" -O binary --only-section="$sec" "$SFX_WORK/s$n-image.exe" "$SFX_WORK/after.bin"
      cmp -s "$SFX_WORK/before.bin" "$SFX_WORK/after.bin" || fail "$format: section $sec changed"
    done
    layout_before=$("$tools-objdump" -h "$base" | awk '$1 ~ /^[0-9]+$/ && $2 != ".rsrc" { print $2, $3, ($2 == ".reloc" ? "" : $4) }')
    layout_after=$("$tools-objdump" -h "$SFX_WORK/s$n-image.exe" | awk '$1 ~ /^[0-9]+$/ && $2 != ".rsrc" { print $2, $3, ($2 == ".reloc" ? "" : $4) }')
    [ "$layout_before" = "$layout_after" ] ||
      fail "$format: sections moved:"$'\n'"$layout_before"$'\n'"--"$'\n'"$layout_after"
    local dump
    dump=$("$tools-objdump" -p "$SFX_WORK/s$n.exe") || fail "objdump -p failed on $format"
    grep -qE '^Entry 2 [0-9a-f]+ [0-9a-f]+ Resource Directory \[\.rsrc\]' <<<"$dump" ||
      fail "$format: objdump finds no resource directory"
    [ "$(grep -c 'Leaf: Addr' <<<"$dump")" = 12 ] ||
      fail "$format: objdump lists $(grep -c 'Leaf: Addr' <<<"$dump") resources, expected 12"
    local list
    list=$(wrestool -l "$SFX_WORK/s$n.exe") || fail "wrestool failed on $format"
    [ "$(grep -c '\[type=icon ' <<<"$list")" = 4 ] || fail "$format: wrestool: $list"
    for want in "--type=14 --name=1 --language=1033 [type=group_icon" \
      "--type=16 --name=1 --language=1033 [type=version" \
      "--type=24 --name=1 --language=1033 [" "--type=5 --name=129 " "--type=6 --name=7 "; do
      grep -qF -- "$want" <<<"$list" || fail "$format: wrestool lacks '$want':"$'\n'"$list"
    done
    # The icon comes back out as the same .ico.
    wrestool -x --type=14 "$SFX_WORK/s$n.exe" -o "$SFX_WORK/s$n.ico" || fail "wrestool -x failed"
    [ "$(icotool -l "$SFX_WORK/s$n.ico")" = "$(icotool -l "$brand_icon")" ] ||
      fail "$format: extracted icon differs: $(icotool -l "$SFX_WORK/s$n.ico")"
    # The checksum covers the whole file, payload included. (osslsigncode
    # leaves out an odd last byte, so only an even-sized file is compared.)
    if [ $(($(stat -c %s "$SFX_WORK/s$n.exe") % 2)) = 0 ]; then
      osslsigncode verify -in "$SFX_WORK/s$n.exe" 2>&1 | grep -q 'invalid PE checksum' &&
        fail "$format: osslsigncode finds the checksum invalid"
    fi
  done
  echo "branded PE32 and PE32+ images pass objdump, windres, wrestool and icotool"
}

case_branding_signed() {
  # A branded self-extractor can be signed afterwards; the signed file
  # verifies, still extracts, and cannot be branded again.
  config "$SFX_WORK/silent.xml" ShowMain=0 ShowProgress=0 ShowFin=0
  brand "$SFX_WORK/b.exe" "$stub" --config "$SFX_WORK/silent.xml"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$SFX_WORK/key.pem" \
    -out "$SFX_WORK/cert.pem" -days 2 -subj "/CN=Acme Test Signing" >/dev/null 2>&1 ||
    fail "openssl could not make a test certificate"
  osslsigncode sign -certs "$SFX_WORK/cert.pem" -key "$SFX_WORK/key.pem" \
    -n "Acme Installer" -in "$SFX_WORK/b.exe" -out "$SFX_WORK/signed.exe" >/dev/null ||
    fail "osslsigncode sign failed"
  local verify
  verify=$(osslsigncode verify -CAfile "$SFX_WORK/cert.pem" -in "$SFX_WORK/signed.exe" 2>&1) ||
    fail "osslsigncode verify failed:"$'\n'"$verify"
  grep -q "Signature verification: ok" <<<"$verify" || fail "verify: $verify"
  brand_extract "$SFX_WORK/signed.exe" out
  "$SFX_PACK" info "$SFX_WORK/signed.exe" | grep -qE '^signature: [0-9]+ bytes at offset' ||
    fail "info does not see the signature"
  # The signed self-extractor is refused as a stub (it carries a payload),
  # and so is a signed bare stub when it is to be branded.
  local err
  err=$("$SFX_PACK" create -q -o "$SFX_WORK/again.exe" --stub "$SFX_WORK/signed.exe" \
    --elevate "$here/../../examples/hello" 2>&1) && fail "a signed self-extractor was taken as a stub"
  grep -q "carries a payload already" <<<"$err" || fail "message: $err"
  osslsigncode sign -certs "$SFX_WORK/cert.pem" -key "$SFX_WORK/key.pem" \
    -n "Acme Installer" -in "$stub" -out "$SFX_WORK/signed-stub.exe" >/dev/null ||
    fail "osslsigncode sign failed on the bare stub"
  err=$("$SFX_PACK" create -q -o "$SFX_WORK/again.exe" --stub "$SFX_WORK/signed-stub.exe" \
    --elevate "$here/../../examples/hello" 2>&1) && fail "a signed stub was branded"
  grep -q "the stub is signed; brand an unsigned stub and sign the self-extractor after packing" <<<"$err" ||
    fail "message: $err"
  ls "$SFX_WORK"/again.exe* >/dev/null 2>&1 && fail "output left behind: $(ls "$SFX_WORK"/again.exe*)"
  echo "signed, verified, extracted"
}

case_branding_hostile() {
  # Hostile inputs: a clear message, exit status 1, and no output file.
  local ico=$brand_icon w=$SFX_WORK
  head -c 100 "$ico" >"$w/truncated.ico"
  cp "$ico" "$w/lying.ico"
  printf '\x20' | dd of="$w/lying.ico" bs=1 seek=4 conv=notrunc status=none
  # A stub whose resource root's first entry points back at the root.
  cp "$stub" "$w/loop.exe"
  local rsrc
  rsrc=$("$mingw-objdump" -h "$stub" | awk '$2 == ".rsrc" { print $6 }')
  printf '\x00\x00\x00\x80' | dd of="$w/loop.exe" bs=1 seek=$((0x$rsrc + 0x14)) conv=notrunc status=none
  # A self-extractor given as the stub: its payload follows the image.
  "$SFX_PACK" create -q -o "$w/packed.exe" --stub "$stub" "$here/../../examples/hello"
  local long
  long=$(head -c 65536 /dev/zero | tr '\0' x)
  local cases=(
    "truncated icon|icon image 1 lies beyond the end of the icon file|--icon $w/truncated.ico"
    "lying image count|the image count does not match the file|--icon $w/lying.ico"
    "64 KB version string|the value has 65536 characters; at most 1024 are allowed|--version-info ProductName=$long"
    "looping resource directory|the resource directory loops|--stub $w/loop.exe --elevate"
    "stub with a payload|carries a payload already|--stub $w/packed.exe --elevate"
    "missing icon|cannot read '$w/none.ico'|--icon $w/none.ico"
    "not a manifest|holds no assembly element|--manifest $ico"
    "unknown string|the stub has no string 104|--string 104=x"
    "title too long|must have 1 to 99 characters|--string 103=$(head -c 100 /dev/zero | tr '\0' t)"
  )
  local c what message opts out status
  for c in "${cases[@]}"; do
    IFS='|' read -r what message opts <<<"$c"
    rm -f "$w/out.exe" "$w/out.exe.part"
    # shellcheck disable=SC2086  # the options are words
    out=$("$SFX_PACK" create -q -o "$w/out.exe" --stub "$stub" $opts "$here/../../examples/hello" 2>&1) &&
      fail "$what: accepted"
    status=$?
    [ "$status" = 1 ] || fail "$what: exit status $status: $out"
    grep -qF -- "$message" <<<"$out" || fail "$what: message: $out"
    [ ! -e "$w/out.exe" ] && [ ! -e "$w/out.exe.part" ] || fail "$what: an output file was left"
  done
  echo "hostile inputs refused"
}

case_branding_manifest() {
  # A manifest of the packager's own replaces the stub's; without --elevate
  # its level stays as written. Only the title and the manifest change.
  sed 's/level="asInvoker"/level="highestAvailable"/' "$here/../../src/app/sfxstub.manifest" \
    >"$SFX_WORK/own.manifest"
  config "$SFX_WORK/silent.xml" ShowMain=0 ShowProgress=0 ShowFin=0
  "$SFX_PACK" create -q -o "$SFX_WORK/m.exe" --stub "$stub" --config "$SFX_WORK/silent.xml" \
    --manifest "$SFX_WORK/own.manifest" "$here/../../examples/hello"
  brand_extract "$SFX_WORK/m.exe" out
  local probe
  probe=$(wine "$brand_probe" "$(winpath "$SFX_WORK/m.exe")" | tr -d '\r')
  grep -qx "manifest level=highestAvailable" <<<"$probe" || fail "probe: $probe"
  grep -qx "version none" <<<"$probe" || fail "a version block appeared: $probe"
  # The stub's own icon stays: one group, 16, 32, 48 and 64 pixels.
  grep -qx "icons 1" <<<"$probe" || fail "not the stub's one icon group: $probe"
  [ "$(grep '^icon image ' <<<"$probe" | tr '\n' ' ')" = "icon image 16x16 icon image 32x32 icon image 48x48 icon image 64x64 " ] ||
    fail "not the stub's own icon: $probe"
  echo "own manifest in place"
}
