#!/usr/bin/env bash
# Draws the data file of bench/run_peer.sh as a PNG: extraction wall time
# against payload size under 32-bit Wine, our PE32 self-extractor and the
# NSIS installers, a line a tool over the mixed-content files and a point a
# tool for the many-file corpus; both axes logarithmic.
# Usage: bench/plot_peer.sh PEER.DAT OUT.png
# Needs gnuplot (Debian: apt-get install gnuplot-nox).
set -eu
data=${1:?usage: plot_peer.sh PEER.DAT OUT.png}
png=${2:?usage: plot_peer.sh PEER.DAT OUT.png}
command -v gnuplot >/dev/null ||
  { echo "plot_peer: gnuplot is missing (Debian: apt-get install gnuplot-nox)" >&2; exit 1; }
[ -s "$data" ] || { echo "plot_peer: no data in '$data'" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
grep -v '^#' "$data" | grep -v '# corpus' >"$tmp/mixed.dat" || true
grep '# corpus' "$data" >"$tmp/corpus.dat" || true
range=$(grep -v '^#' "$data" | awk '{if (lo == "" || $1 < lo) lo = $1; if ($1 > hi) hi = $1} END {print lo / 1.4 ":" hi * 1.4}')
plots=()
if [ -s "$tmp/mixed.dat" ]; then
  plots+=("'$tmp/mixed.dat' using 1:2 with linespoints lw 2 lc 1 title 'ours (PE32 stub), one mixed file'"
          "'' using 1:3 with linespoints lw 2 lc 2 title 'NSIS zlib, one mixed file'"
          "'' using 1:4 with linespoints lw 2 lc 3 title 'NSIS LZMA, one mixed file'")
fi
if [ -s "$tmp/corpus.dat" ]; then
  plots+=("'$tmp/corpus.dat' using 1:2 with points pt 7 ps 1.6 lc 1 title 'ours, corpus (many files)'"
          "'' using 1:3 with points pt 7 ps 1.6 lc 2 title 'NSIS zlib, corpus'"
          "'' using 1:4 with points pt 7 ps 1.6 lc 3 title 'NSIS LZMA, corpus'")
fi
joined=$(printf '%s, ' "${plots[@]}")
gnuplot <<PLOT
set terminal pngcairo size 800,560 font "sans,11"
set output "$png"
set title "Silent extraction under 32-bit Wine"
set xlabel "payload (MB of data)"
set ylabel "wall time (s)"
set logscale xy
set grid
set key top left
set xrange [$range]
plot ${joined%, }
PLOT
echo "wrote $png"
