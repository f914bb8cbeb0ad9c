#!/usr/bin/env bash
# Draws the data file of bench/run_scaling.sh as a PNG: extraction wall time
# against payload size, one line a tool, both axes logarithmic.
# Usage: bench/plot_scaling.sh SCALING.DAT OUT.png
# Needs gnuplot (Debian: apt-get install gnuplot-nox).
set -eu
data=${1:?usage: plot_scaling.sh SCALING.DAT OUT.png}
png=${2:?usage: plot_scaling.sh SCALING.DAT OUT.png}
command -v gnuplot >/dev/null ||
  { echo "plot_scaling: gnuplot is missing (Debian: apt-get install gnuplot-nox)" >&2; exit 1; }
[ -s "$data" ] || { echo "plot_scaling: no data in '$data'" >&2; exit 1; }
gnuplot <<PLOT
set terminal pngcairo size 800,560 font "sans,11"
set output "$png"
set title "Extracting one file of mixed content"
set xlabel "payload (MB of data)"
set ylabel "wall time (s)"
set logscale xy
set grid
set key top left
set xrange [$(awk '!/^#/ {if (lo == "" || $1 < lo) lo = $1; if ($1 > hi) hi = $1} END {print lo / 1.25 ":" hi * 1.25}' "$data")]
set xtics ($(awk '!/^#/ {printf "%s\"%s\" %s", n++ ? ", " : "", $1, $1}' "$data"))
plot "$data" using 1:2 with linespoints lw 2 title "stub (64-bit twin) under Wine, silent", \
     "" using 1:3 with linespoints lw 2 title "sfxpack extract", \
     "" using 1:4 with linespoints lw 2 title "unzip -q", \
     "" using 1:5 with linespoints lw 2 title "cp -r"
PLOT
echo "wrote $png"
