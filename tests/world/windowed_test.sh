#!/usr/bin/env bash
# The windowed world of scripts/run under a virtual X display: both phones' windows stand side
# by side and show their main lists, and everything stops when the world is stopped.
#   windowed_test.sh SOURCE-DIR BIN-DIR      (exit 77: skipped, with the reason)
set -uo pipefail
src=$1
bin=$2

skip() {
  echo "SKIPPED: $*"
  exit 77
}
fail() {
  echo "FAILED: $*"
  [ -n "${work:-}" ] && for f in "$work"/world.out "$work"/world/logs/phone-*.log; do
    [ -f "$f" ] && { echo "--- $f"; tail -n 30 "$f"; }
  done
  exit 1
}

command -v Xvfb >/dev/null || skip "Xvfb is not installed (scripts/install-deps installs it)"
command -v import >/dev/null || skip "ImageMagick is not installed"
[ -x /usr/sbin/bearerbox ] || skip "Kannel is not installed"
[ -x "$bin/tessera-drive" ] || skip "tessera-drive is not built yet: the program cannot be driven"

# A network of its own: the gateway's fixed UDP ports never meet another test's.
if [ -z "${TESSERA_NETNS:-}" ]; then
  exec unshare -rn env TESSERA_NETNS=1 bash "$0" "$@"
fi

source "$src/scripts/world"
world_defaults
WORLD_BIN=$bin
world_program_has_screens || skip "this build's tessera has no screens yet (tessera --headless --describe shows no main list)"

work=$(mktemp -d)
xvfb=
world=
cleanup() {
  [ -n "$world" ] && kill -TERM "$world" 2>/dev/null && wait "$world" 2>/dev/null
  [ -n "$xvfb" ] && kill -TERM "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The X server picks a free display number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb=$!
world_wait_for 20 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
DISPLAY=:$(head -1 "$work/display")
export DISPLAY
export TESSERA_AUDIO=null TESSERA_SCALE=2
unset WAYLAND_DISPLAY

"$src/scripts/world" run --bin "$bin" --dir "$work/world" --media "$(dirname "$bin")/demo-media" --fresh \
  >"$work/world.out" 2>&1 &
world=$!
world_wait_for 180 grep -q '^READY=1' "$work/world/world.env" || fail "the world did not come up"
grep -q "phone A  +15550100" "$work/world.out" || fail "the summary does not name phone A"

rootA=$work/world/phone-a
rootB=$work/world/phone-b
for root in "$rootA" "$rootB"; do
  "$bin/tessera-drive" --root "$root" wait-text "Settings" --timeout 30 >/dev/null || fail "${root##*/} shows no main list"
  description=$("$bin/tessera-drive" --root "$root" describe)
  for row in "New message" Inbox Drafts Outbox Sent Settings; do
    grep -q "$row" <<<"$description" || fail "${root##*/}'s main list has no row \"$row\": $description"
  done
  "$bin/tessera-drive" --root "$root" screenshot "$work/${root##*/}.png" || fail "no screenshot of ${root##*/}"
done

# The display as a user sees it: each window, where the world put it, shows its phone's screen
# (scaled twice), not a blank or the other phone.
import -display "$DISPLAY" -window root "$work/display.png" || fail "cannot take a screenshot of the display"
scale=2
width=$((176 * scale))
height=$((220 * scale))
left_b=$((20 + width + 24))
similar() { # CROP-X PHONE-PNG: root-mean-square difference, 0..1
  convert "$work/display.png" -crop "${width}x${height}+$1+40" +repage "$work/crop.png"
  convert "$2" -filter point -resize "${width}x${height}!" "$work/expected.png"
  compare -metric RMSE "$work/crop.png" "$work/expected.png" null: 2>&1 | sed -n 's/.*(\(.*\)).*/\1/p'
}
blank() { # CROP-X: true when the region is of one colour
  local deviation
  deviation=$(convert "$work/display.png" -crop "${width}x${height}+$1+40" +repage -format '%[fx:standard_deviation]' info:)
  awk -v d="$deviation" 'BEGIN { exit !(d < 0.01) }'
}
blank 20 && fail "phone A's window is blank"
blank "$left_b" && fail "phone B's window is blank"
for phone in a b; do
  x=20
  [ $phone = b ] && x=$left_b
  rmse=$(similar "$x" "$work/phone-$phone.png")
  if ! awk -v r="$rmse" 'BEGIN { exit !(r != "" && r < 0.08) }'; then
    cp "$work/display.png" "${TMPDIR:-/tmp}/world-windowed-display.png"
    fail "the window at x=$x does not show phone $phone's screen (difference ${rmse:-?}); display kept in ${TMPDIR:-/tmp}/world-windowed-display.png"
  fi
done

# Stopping the world stops all it started: the gateway's port and the phones' sockets go.
kill -TERM "$world"
wait "$world"
world=
world_udp_taken 9201 && fail "the gateway still runs after the world stopped"
for root in "$rootA" "$rootB"; do
  "$bin/tessera-drive" --root "$root" describe >/dev/null 2>&1
  [ $? = 2 ] || fail "${root##*/}'s program still runs after the world stopped"
done
echo "PASSED"
