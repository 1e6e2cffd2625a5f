#!/usr/bin/env bash
# The headless tour of scripts/world run: phone A composes and sends by keys on its own
# screens, B is told, fetches and opens the message; every step leaves a screenshot of both
# phones, and B's Inbox holds the message from A with the picture and the text.
#   tour_test.sh SOURCE-DIR BIN-DIR      (exit 77: skipped, with the reason)
set -uo pipefail
src=$1
bin=$2

skip() {
  echo "SKIPPED: $*"
  exit 77
}
fail() {
  echo "FAILED: $*"
  [ -n "${work:-}" ] && for f in "$work"/world.out "$work"/world/tour/stuck-a.txt "$work"/world/logs/phone-*.log; do
    [ -f "$f" ] && { echo "--- $f"; tail -n 40 "$f"; }
  done
  exit 1
}

[ -x /usr/sbin/bearerbox ] || skip "Kannel is not installed"
[ -x "$bin/tessera-drive" ] || skip "tessera-drive is not built yet: the program cannot be driven"

# A network of its own: the gateway's fixed UDP ports never meet another test's.
if [ -z "${TESSERA_NETNS:-}" ]; then
  exec unshare -rn env TESSERA_NETNS=1 bash "$0" "$@"
fi

source "$src/scripts/world"
world_defaults
# shellcheck disable=SC2034 # read by the world's functions
WORLD_BIN=$bin
world_program_has_screens || skip "this build's tessera has no screens yet"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TESSERA_AUDIO=null

env -u DISPLAY -u WAYLAND_DISPLAY "$src/scripts/world" run --phones headless --bin "$bin" --dir "$work/world" \
  --media "$(dirname "$bin")/demo-media" --fresh >"$work/world.out" 2>&1 || fail "the tour failed"

shots=$work/world/tour
step=0
for name in started composer gallery picture canned-texts text send-page recipient sent notice fetched inbox opened; do
  step=$((step + 1))
  for phone in a b; do
    file=$(printf '%s/%02d-%s-%s.png' "$shots" "$step" "$name" "$phone")
    [ -s "$file" ] || fail "no screenshot $(basename "$file")"
  done
done

# With the phones stopped, B's store says what arrived: a retrieved message from A, at least
# as large as the picture and the text A put in; the picture is in B's store byte for byte.
inbox=$(TESSERA_ROOT=$work/world/phone-b TESSERA_PUSHROUTER_AUTOSTART=0 "$bin/tessera-cli" list inbox)
grep -q "+15550100" <<<"$inbox" || fail "B's Inbox has nothing from A: $inbox"
id=$(tail -1 <<<"$inbox" | cut -f1)
shown=$(TESSERA_ROOT=$work/world/phone-b TESSERA_PUSHROUTER_AUTOSTART=0 "$bin/tessera-cli" show "$id")
grep -q "^state: 0x0001" <<<"$shown" || fail "B did not retrieve the message: $shown"
picture="$work/world/phone-a/My Documents/My Pictures/Harbour.jpg"
text="Hello from Ada Lindqvist, through the local world."
size=$(sed -n 's/^size: //p' <<<"$shown")
[ "${size:-0}" -ge $(($(stat -c %s "$picture") + 2 * ${#text})) ] || fail "the message B got is too small for the picture and the text: $shown"
found=
while IFS= read -r -d '' file; do
  cmp -s "$file" "$picture" && found=$file
done < <(find "$work/world/phone-b" -type f -size "$(stat -c %s "$picture")c" -print0)
[ -n "$found" ] || fail "A's picture is nowhere in B's store"
echo "PASSED"
