#!/bin/sh
# Frames per second of brindle-decode against ffmpeg (with and without its SIMD) on CIF and VGA
# clips, as whole-program runs timed in processor seconds (user + system, so that other load on a
# shared machine matters less). Usage: bench/brindle/run.sh [BUILD_DIR] (an optimised build).
set -eu
build=${1:-build-release}
tool="$build/bin/brindle-decode"
[ -x "$tool" ] || { echo "run.sh: $tool not found; build the brindle_decode target first" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "run.sh: ffmpeg is needed" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "run.sh: /usr/bin/time (Debian package time) is needed" >&2; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
best() {  # best processor time of three runs of "$@"
  b=""
  for i in 1 2 3; do
    /usr/bin/time -f '%U %S' -o "$dir/time" "$@" >/dev/null 2>&1
    t=$(awk '{ print $1 + $2 }' "$dir/time")
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc -l)" = 1 ]; then b=$t; fi
  done
  echo "$b"
}
printf '%-5s %10s %10s %10s %12s %14s\n' clip brindle ffmpeg ffmpeg-c0 'vs ffmpeg' 'vs ffmpeg -c0'
for spec in cif:352x288 vga:640x480; do
  name=${spec%%:*}; size=${spec#*:}
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=25" -frames:v 300 -c:v mpeg4 -q:v 4 -g 12 \
    -flags:v +mv4+aic -threads 1 -f m4v "$dir/$name.m4v"
  ours=$(best "$tool" "$dir/$name.m4v" /dev/null)
  ff=$(best ffmpeg -v error -threads 1 -i "$dir/$name.m4v" -f null -)
  ff0=$(best ffmpeg -v error -cpuflags 0 -threads 1 -i "$dir/$name.m4v" -f null -)
  printf '%-5s %10.1f %10.1f %10.1f %11.2fx %13.2fx\n' "$name" "$(echo "300 / $ours" | bc -l)" \
    "$(echo "300 / $ff" | bc -l)" "$(echo "300 / $ff0" | bc -l)" "$(echo "$ff / $ours" | bc -l)" \
    "$(echo "$ff0 / $ours" | bc -l)"
done
