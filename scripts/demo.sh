#!/usr/bin/env bash
# The main job: builds the packer and the stub, packs the example folder with
# a configuration that runs a setup step (examples/hello-setup.xml and
# examples/setup/install.bat) into build/demo/hello.exe, runs it under Wine
# with a run log, and shows the extracted tree, the run log and the exit
# code. The stub is the one that ships (PE32), run by 32-bit Wine: natively
# where the kernel runs 32-bit programs, emulated where it does not; the
# output says which. Installs what is missing first.
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$repo"
bash scripts/setup.sh

wine_select
echo "== building the stubs (win32, win64) and the packer with them built in (native-release)"
build_preset win32 >/dev/null
build_preset win64 >/dev/null
build_preset native-release -DSFX_WIN32_BIN_DIR="$win_bin" \
  -DSFX_SHIPPED_STUB="$repo/build/win32/bin/sfxstub.exe" \
  -DSFX_STUB_X86="$repo/build/win32/bin/sfxstub.exe" -DSFX_STUB_X64="$repo/build/win64/bin/sfxstub.exe" >/dev/null

demo="$repo/build/demo"
rm -rf "$demo"
mkdir -p "$demo/out"
echo "== installing sfxpack into build/demo/prefix (cmake --install)"
cmake --install build/native-release --prefix "$demo/prefix" >/dev/null
arch=x86
[ "$win_preset" = win64 ] && arch=x64
echo "== packing examples/hello and examples/setup/install.bat with the installed sfxpack (--arch $arch)"
echo "   sfxpack create -o hello.exe --arch $arch --silent --unzip-dir '%TEMP%\\hello' --run install.bat --wait --stub-verbose examples/hello examples/setup/install.bat"
"$demo/prefix/bin/sfxpack" create -q -o "$demo/hello.exe" --arch "$arch" --silent \
  --unzip-dir '%TEMP%\hello' --run install.bat --wait --stub-verbose \
  examples/hello examples/setup/install.bat
ls -l "$demo/hello.exe"

xvfb_start
trap xvfb_stop EXIT

win() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
unzip_dir="$(win "$demo/out")\\hello"
echo "== running hello.exe -unzipDir '$unzip_dir' -log run.log under Wine ($win_preset stub; Wine: $wine_how)"
# The configuration is silent and automatic: no window; the stub unpacks,
# runs install.bat in the unzip directory, waits for it and ends with its
# exit code, which the test driver reads.
rc=0
wine_stage wine "$win_bin/sfxdriver.exe" -t 60000 \
  "run '$(win "$demo/hello.exe")' -unzipDir '$unzip_dir' -log '$(win "$demo/run.log")'" \
  "wait-exit" \
  "exit-code" >"$demo/driver.txt" 2>&1 || rc=$?

echo "== extracted tree (build/demo/out/hello)"
(cd "$demo/out" && find . | sort)
echo "== written by the setup step (installed.txt)"
tr -d '\r' <"$demo/out/hello/installed.txt" 2>/dev/null || echo "(missing)"
echo "== run log (build/demo/run.log)"
tr -d '\r' <"$demo/run.log"
echo "== exit code of the stub"
cat "$demo/driver.txt"
if [ "$rc" != 0 ] || ! cmp -s examples/hello/readme.txt "$demo/out/hello/readme.txt" ||
  [ ! -f "$demo/out/hello/installed.txt" ]; then
  echo "demo: the stub did not run as expected" >&2
  exit 1
fi
echo "== the $win_preset stub unpacked its payload, ran the setup step and ended with the code above"
echo "== Wine ran it: $wine_how"
