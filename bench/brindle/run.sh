#!/bin/sh
# Processor time of brindle-decode against ffmpeg's single-thread decoder (with its SIMD, and its
# plain C path) on long clips: 60 s of 640x480 MPEG-4 Simple Profile and 60 s of 4CIF (704x576)
# H.263, 1,800 frames each, so that process start-up does not count. Every program runs as a whole
# process timed in user + system seconds; the three programs take turns, five rounds, and the
# median of each is compared. Only the ratios mean anything on a shared machine. Start-up still
# weighs on ffmpeg (about a sixth of its time here), so the ratio with each program's time on a
# one-frame clip taken off is printed as well.
# Usage: bench/brindle/run.sh [BUILD_DIR] (an optimised build; the clips are cached there)
set -eu
build=${1:-build-release}
tool="$build/bin/brindle-decode"
rounds=${BRINDLE_BENCH_ROUNDS:-5}
frames=1800
[ -x "$tool" ] || { echo "run.sh: $tool not found; build the brindle_decode target first" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "run.sh: ffmpeg is needed" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "run.sh: /usr/bin/time (Debian package time) is needed" >&2; exit 1; }
clips="$build/brindle-clips"
mkdir -p "$clips"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# clip NAME FRAMES SIZE ENCODER-OPTIONS...: encodes the clip once; later runs reuse it.
clip() {
  name=$1 count=$2 size=$3
  shift 3
  [ -s "$clips/$name" ] && return 0
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=$size:rate=30" -frames:v "$count" -threads 1 "$@" \
    "$clips/$name.part"
  mv "$clips/$name.part" "$clips/$name"
}
mpeg4="-c:v mpeg4 -q:v 4 -g 12 -flags:v +mv4+aic -f m4v"
h263="-c:v h263 -q:v 4 -g 12 -f h263"
# shellcheck disable=SC2086
{
  clip vga.m4v $frames 640x480 $mpeg4
  clip vga-1.m4v 1 640x480 $mpeg4
  clip 4cif.263 $frames 704x576 $h263
  clip 4cif-1.263 1 704x576 $h263
}

# cpu FILE COMMAND...: runs the command, appends its user + system seconds to FILE.
cpu() {
  out=$1
  shift
  if ! /usr/bin/time -f '%U %S' -o "$tmp/time" "$@" >/dev/null 2>"$tmp/err"; then
    echo "run.sh: $* failed:" >&2
    cat "$tmp/err" >&2
    exit 1
  fi
  awk '{ printf "%.3f\n", $1 + $2 }' "$tmp/time" >>"$out"
}
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "load before: $(uptime | sed 's/.*load average: //')"
printf '%-11s %7s %9s %9s %9s %11s %11s %11s\n' clip frames brindle ffmpeg ffmpeg-c 'vs ffmpeg' 'vs ffmpeg-c' \
  'no start-up'
summary="" net=""
for spec in vga-mpeg4:vga.m4v:vga-1.m4v 4cif-h263:4cif.263:4cif-1.263; do
  label=${spec%%:*}
  rest=${spec#*:}
  file="$clips/${rest%%:*}" one="$clips/${rest#*:}"
  rm -f "$tmp/ours" "$tmp/ff" "$tmp/ff0" "$tmp/ours1" "$tmp/ff1"
  i=0
  while [ $i -lt "$rounds" ]; do
    cpu "$tmp/ours" "$tool" "$file" /dev/null
    cpu "$tmp/ff" ffmpeg -nostdin -v error -threads 1 -i "$file" -f null -
    cpu "$tmp/ff0" ffmpeg -nostdin -v error -cpuflags 0 -threads 1 -i "$file" -f null -
    cpu "$tmp/ours1" "$tool" "$one" /dev/null
    cpu "$tmp/ff1" ffmpeg -nostdin -v error -threads 1 -i "$one" -f null -
    i=$((i + 1))
  done
  ours=$(median "$tmp/ours") ff=$(median "$tmp/ff") ff0=$(median "$tmp/ff0")
  ours1=$(median "$tmp/ours1") ff1=$(median "$tmp/ff1")
  ratio=$(echo "$ours $ff" | awk '{ printf "%.2f", $1 / $2 }')
  ratio0=$(echo "$ours $ff0" | awk '{ printf "%.2f", $1 / $2 }')
  ratio1=$(echo "$ours $ours1 $ff $ff1" | awk '{ printf "%.2f", ($1 - $2) / ($3 - $4) }')
  printf '%-11s %7d %8.2fs %8.2fs %8.2fs %10sx %10sx %10sx\n' "$label" $frames "$ours" "$ff" "$ff0" "$ratio" \
    "$ratio0" "$ratio1"
  echo "            start-up (one-frame clip): brindle ${ours1}s, ffmpeg ${ff1}s"
  summary="$summary${summary:+, }$label ${ratio}x"
  net="$net${net:+, }${ratio1}x"
done
echo "(processor seconds, median of $rounds interleaved runs; ratio = brindle / ffmpeg, lower is better)"
echo "load after: $(uptime | sed 's/.*load average: //')"
echo "summary: brindle $summary ffmpeg simd (target 1.0); without start-up $net"
