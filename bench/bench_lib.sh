# Helpers shared by the benchmark scripts: test data built from files on
# this machine, timed runs through /usr/bin/time, medians and ratios.
# Sourced, not run.

BENCH_RUNS=${BENCH_RUNS:-3}

need_tools() {
  local t
  for t in "$@"; do
    command -v "$t" >/dev/null || { echo "bench: '$t' is missing (scripts/setup.sh installs it)" >&2; exit 1; }
  done
}

# make_mixed FILE MB: about MB megabytes of mixed content: C headers (text),
# shared libraries (code), compressed documentation and random bytes.
make_mixed() {
  local out=$1 mb=$2
  {
    find /usr/include -type f -name '*.h' -print0 | LC_ALL=C sort -z |
      xargs -0 cat 2>/dev/null | head -c $((mb * 4 / 10))M
    find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name '*.so*' -print0 |
      LC_ALL=C sort -z | xargs -0 cat 2>/dev/null | head -c $((mb * 4 / 10))M
    find /usr/share/doc -type f -name '*.gz' -print0 | LC_ALL=C sort -z |
      xargs -0 cat 2>/dev/null | head -c $((mb / 10))M
    head -c $((mb / 10))M /dev/urandom
  } >"$out"
  truncate -s "${mb}M" "$out"
}

# make_corpus DIR: a many-file tree of headers, documentation (much of it
# already compressed) and a few libraries, without symbolic links and
# without names that differ only in case: about 13,400 files in 2,000
# directories, 215 MB.
make_corpus() {
  local dir=$1
  mkdir -p "$dir"
  cp -r /usr/include "$dir/include"
  cp -r /usr/share/doc "$dir/doc"
  mkdir -p "$dir/lib"
  find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name 'lib[a-c]*.so*' \
    -size -2M -exec cp {} "$dir/lib/" \;
  find "$dir/include" "$dir/doc" -type f -size +256k -delete
  find "$dir" -type l -delete
  # Names that differ only in letter case would be one file on Windows.
  find "$dir" -mindepth 1 | LC_ALL=C sort |
    awk '{ l = tolower($0); if (l in seen) print; else seen[l] = 1 }' |
    while IFS= read -r p; do rm -rf "$p"; done
}

describe_tree() {  # describe_tree DIR: "N files, N directories, N MB"
  printf '%s files, %s directories, %s MB' \
    "$(find "$1" -type f | wc -l)" "$(find "$1" -mindepth 1 -type d | wc -l)" \
    "$(du -sm "$1" | cut -f1)"
}

# timed NAME CMD...: runs CMD under /usr/bin/time and appends
# "NAME wall user sys maxrss_kb" to $results (wall to the tenth of a
# millisecond, from the shell's clock; /usr/bin/time gives hundredths).
# Fails the script when CMD fails.
timed() {
  local name=$1
  shift
  local t t0 t1
  t=$(mktemp)
  t0=${EPOCHREALTIME/,/.}
  if ! /usr/bin/time -f '%U %S %M' -o "$t" "$@" >/dev/null; then
    echo "bench: $name failed: $*" >&2
    exit 1
  fi
  t1=${EPOCHREALTIME/,/.}
  echo "$name $(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.4f", b - a}') $(tail -n 1 "$t")" >>"$results"
  rm -f "$t"
}

# median NAME FIELD: the median of a field (2 wall, 3 user, 4 sys, 5 rss).
median() {
  awk -v n="$1" -v f="$2" '$1 == n {print $f}' "$results" | sort -g |
    awk '{v[NR] = $1} END {if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}

# ratio A B: A / B to two decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "n/a"}'; }

# verdict RATIO LIMIT: "ok" or "OVER" the limit.
verdict() { awk -v r="$1" -v l="$2" 'BEGIN {print (r <= l) ? "ok" : "OVER"}'; }

print_row() {  # print_row NAME: medians of one tool
  printf '  %-14s wall %7.3f s  user %7.3f s  sys %7.3f s  peak %7.1f MB\n' "$1" \
    "$(median "$1" 2)" "$(median "$1" 3)" "$(median "$1" 4)" \
    "$(awk -v k="$(median "$1" 5)" 'BEGIN {print k / 1024}')"
}
