#!/usr/bin/env bash
# Screenshots of the mirroring window under Xvfb, showing the pretend phone of
# scripts/try-without-phone.sh through the real adb:
#   1-live.png       the test card streaming, the rail and the fps badge;
#   2-landscape.png  after the rail's Rotate;
#   3-stopped.png    the stopped overlay once the phone ended the stream.
#
#   scripts/mirror-screenshots.sh [OUTPUT_FOLDER]     (default: ./mirror-screenshots)
#
# Needs Xvfb, xdotool and ImageMagick's import. VANTELORQUIST_BUILD works as
# for try-without-phone.sh.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-mirror-screenshots}")
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "mirror-screenshots: $tool is not installed" >&2; exit 1; }
done
mkdir -p "$out"
log=$(mktemp "${TMPDIR:-/tmp}/mirror-screenshots-XXXXXX.log")
xvfb_pid=""
try_pid=""

cleanup() {
  trap - EXIT INT TERM HUP
  # The try script ends the application, adb server and phone it started.
  if [ -n "$try_pid" ] && kill -0 "$try_pid" 2>/dev/null; then
    kill "$try_pid" 2>/dev/null || true
    wait "$try_pid" 2>/dev/null || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -f "$log" "$log.display"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

wait_for() { # seconds, then a command that succeeds when ready
  local tries=$(($1 * 10))
  shift
  for _ in $(seq 1 "$tries"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$log.display" 2>/dev/null &
xvfb_pid=$!
wait_for 10 test -s "$log.display" || { echo "mirror-screenshots: Xvfb didn't start" >&2; exit 1; }
export DISPLAY=:$(head -n 1 "$log.display")

bash "$root/scripts/try-without-phone.sh" >"$log" 2>&1 &
try_pid=$!
if ! wait_for 300 grep -q "knobs in" "$log"; then
  echo "mirror-screenshots: the application didn't start:" >&2
  cat "$log" >&2
  exit 1
fi
knobs=$(grep -o 'knobs in [^ ]*' "$log" | cut -d' ' -f3)

visible() { xdotool search --onlyvisible --class vantelorquist 2>/dev/null || true; }
any_window() { [ -n "$(visible)" ]; }
wait_for 30 any_window || { echo "mirror-screenshots: no window:" >&2; cat "$log" >&2; exit 1; }
main=$(visible | head -n 1)
sleep 2 # the phone shows up in the window
xdotool windowfocus --sync "$main"
xdotool key --window "$main" ctrl+alt+m
mirror_window() { visible | grep -v -x "$main" | head -n 1; }
mirror_open() { [ -n "$(mirror_window)" ]; }
wait_for 20 mirror_open || { echo "mirror-screenshots: the mirroring window didn't open" >&2; exit 1; }
mirror=$(mirror_window)

sleep 4 # streaming, and the badge has counted a second
import -window "$mirror" "$out/1-live.png"

# The Rotate button: fourth of the rail's first group, in the window's
# default size. The pointer then leaves the rail so that no tooltip shows.
xdotool mousemove --window "$mirror" 429 150 click 1
sleep 3
xdotool mousemove --window "$mirror" 200 5
sleep 1
import -window "$mirror" "$out/2-landscape.png"

generation=$(date +%s)
echo "{\"mirror\": {\"endGeneration\": $generation}}" >"$knobs.new"
mv "$knobs.new" "$knobs"
sleep 3
import -window "$mirror" "$out/3-stopped.png"
echo "mirror-screenshots: $out/1-live.png, 2-landscape.png, 3-stopped.png"
