#!/usr/bin/env bash
# Our PE32 self-extractor against NSIS installers of the same payload, under
# the same 32-bit Wine (emulated where the kernel runs no 32-bit programs)
# with one persistent Wine server: sfxstub.exe silent with its folder on the
# command line, against makensis installers (solid zlib, and solid LZMA for
# reference) that install silently (SilentInstall silent, /D= the folder).
# Shapes: one file of mixed content of each PEER_SIZES megabytes and the
# many-file corpus. The three run in turns, each run into a folder that
# never existed; every pair gives a ratio ours / NSIS, and the median of
# those ratios is judged: at most 0.7 of NSIS (zlib) on the 100 MB file and
# on the corpus. Payload sizes are printed beside. Writes WORKDIR/peer.dat,
# one line a shape:
#   MB_of_data  ours  nsis_zlib  nsis_lzma   (median wall, seconds)
# which bench/plot_peer.sh draws. Exits 1 when a target is missed.
#
# Usage: bench/run_peer.sh SFXPACK [WORKDIR]   (SFXPACK from a release build)
#   STUB32      the stub (default build/win32/bin/sfxstub.exe of this tree)
#   BENCH_RUNS  pairs (default 3)
#   PEER_SIZES  sizes of the mixed file in MB (default "100"; "10 30 100"
#               for the curve)
#   PEER_CORPUS 1 (default) adds the corpus, 0 leaves it out
set -eu
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/.." && pwd)

# Inside the Wine environment (see below): the timed rounds.
if [ "${1:-}" = --rounds ]; then
  work=$2 out=$3 runs=$4
  shift 4
  . "$here/bench_lib.sh"
  results=$work/peer-results.txt
  winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
  run_one() {  # run_one TOOL SHAPE DIR
    case $1 in
      ours) timed "ours-$2" wine "$work/$2-ours.exe" -unzipDir "$(winpath "$3")" ;;
      *) timed "$1-$2" wine "$work/$2-$1.exe" "/D=$(winpath "$3")" ;;
    esac
  }
  first=$1
  wine "$work/$first-ours.exe" -unzipDir "$(winpath "$out/warm-ours")" </dev/null ||
    { echo "bench: our stub failed under Wine (exit $?; is the prefix whole?)" >&2; exit 1; }
  wine "$work/$first-zlib.exe" "/D=$(winpath "$out/warm-zlib")" </dev/null ||
    { echo "bench: the NSIS installer failed under Wine" >&2; exit 1; }
  tools=(ours zlib lzma)
  for run in $(seq 1 "$runs"); do
    for shape in "$@"; do
      for i in 0 1 2; do
        tool=${tools[$(((i + run) % 3))]}
        run_one "$tool" "$shape" "$out/$run-$shape-$tool"
      done
      # Every output is checked. The LZMA installer is the reference only:
      # where its output is not whole (it ends with 0 even then), its time
      # is marked and left out of the figures.
      for tool in "${tools[@]}"; do
        diff -rq "$work/$shape" "$out/$run-$shape-$tool" >/dev/null && continue
        if [ "$tool" = lzma ]; then
          echo "bench: the NSIS LZMA installer's $shape is not whole (round $run): its time is left out" >&2
          sed -i "s/^lzma-$shape /broken-lzma-$shape /" "$results"
        else
          echo "bench: $tool's $shape differs" >&2
          exit 1
        fi
      done
    done
  done
  exit 0
fi

. "$here/bench_lib.sh"
sfxpack=$(realpath "${1:?usage: run_peer.sh SFXPACK [WORKDIR]}")
stub=$(realpath "${STUB32:-$repo/build/win32/bin/sfxstub.exe}")
runs=${BENCH_RUNS:-3}
read -r -a sizes <<<"${PEER_SIZES:-100}"
need_tools makensis diff /usr/bin/time wine Xvfb
[ -f "$stub" ] || { echo "bench: $stub is missing (build the win32 preset)" >&2; exit 1; }
work=$(realpath -m "${2:-$(mktemp -d)}")
mkdir -p "$work"
results=$work/peer-results.txt
: >"$results"

echo "preparing data in $work"
shapes=()
for mb in "${sizes[@]}"; do
  shapes+=("mixed$mb")
  mkdir -p "$work/mixed$mb"
  [ -f "$work/mixed$mb/mixed.bin" ] || make_mixed "$work/mixed$mb/mixed.bin" "$mb"
done
if [ "${PEER_CORPUS:-1}" = 1 ]; then
  shapes+=(corpus)
  [ -d "$work/corpus" ] || make_corpus "$work/corpus"
fi
for shape in "${shapes[@]}"; do
  # A placeholder folder: each run names its own on the command line.
  "$sfxpack" create -q -o "$work/$shape-ours.exe" --stub "$stub" --silent \
    --unzip-dir 'C:\sfxbench' "$work/$shape"
  for comp in zlib lzma; do
    [ -f "$work/$shape-$comp.exe" ] && continue
    cat >"$work/$shape-$comp.nsi" <<NSI
Unicode true
Name "bench"
OutFile "$work/$shape-$comp.exe"
SetCompressor /SOLID $comp
RequestExecutionLevel user
SilentInstall silent
InstallDir "C:\\nsisbench"
Section
  SetOutPath "\$INSTDIR"
  File /r "$work/$shape/*"
SectionEnd
NSI
    makensis -V1 "$work/$shape-$comp.nsi"
  done
done
out=$(mktemp -d "$work/out.XXXXXX")
sync

. "$repo/scripts/env.sh"
xvfb_start
trap 'xvfb_stop' EXIT
SFX_WIN_PRESET=win32 wine_select
echo "$runs rounds under $wine_how"
wine_stage bash "$here/run_peer.sh" --rounds "$work" "$out" "$runs" "${shapes[@]}"

# pair_ratio SHAPE TOOL: the median over rounds of ours / TOOL (the n-th run
# of each, in the order they were timed).
pair_ratio() {
  paste <(awk -v n="ours-$1" '$1 == n {print $2}' "$results") \
    <(awk -v n="$2-$1" '$1 == n {print $2}' "$results") |
    awk 'NF == 2 && $2 > 0 {print $1 / $2}' | sort -g |
    awk '{v[NR] = $1} END {if (NR == 0) exit; if (NR % 2) printf "%.2f", v[(NR + 1) / 2]; else printf "%.2f", (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}

echo
echo "$(nproc) cores; the PE32 stub and NSIS $(makensis -VERSION) installers under $wine_how"
missed=0
: >"$work/peer.dat"
echo "# MB_of_data ours nsis_zlib nsis_lzma (median wall, s)" >>"$work/peer.dat"
for shape in "${shapes[@]}"; do
  echo "$shape: $(describe_tree "$work/$shape")"
  echo "  payload: ours $(stat -c %s "$work/$shape-ours.exe") bytes, NSIS zlib $(stat -c %s "$work/$shape-zlib.exe"), NSIS LZMA $(stat -c %s "$work/$shape-lzma.exe") (whole programs)"
  print_row "ours-$shape"
  print_row "zlib-$shape"
  [ -z "$(median "lzma-$shape" 2)" ] || print_row "lzma-$shape"
  rz=$(pair_ratio "$shape" zlib)
  rl=$(pair_ratio "$shape" lzma)
  [ -n "$rl" ] || rl="n/a (its output was not whole)"
  if [ "$shape" = corpus ] || [ "$shape" = mixed100 ]; then
    v=$(verdict "$rz" 0.7)
    echo "  ours / NSIS zlib $rz (at most 0.7: $v); ours / NSIS LZMA $rl"
    [ "$v" = ok ] || missed=1
  else
    echo "  ours / NSIS zlib $rz (reported only); ours / NSIS LZMA $rl"
  fi
  lz=$(median "lzma-$shape" 2)
  echo "$(du -sm "$work/$shape" | cut -f1) $(median "ours-$shape" 2) $(median "zlib-$shape" 2) ${lz:-NaN} # $shape" >>"$work/peer.dat"
done
echo "data: $work/peer.dat"
[ -n "${2:-}" ] || rm -rf "$work"
exit "$missed"
