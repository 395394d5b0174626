#!/usr/bin/env bash
# Takes a picture of the running program for the documentation: starts the built quorvel with the
# bundled score under a virtual X server, turns the camera with mouse drags so the whole keyboard
# is seen from the player's side, starts the performance, and writes the window as a PNG.
#
#   tools/screenshot.sh [build-dir] [output.png]
#
# Defaults: build-dir "build", output "docs/images/window.png". Needs xvfb-run, xdotool, xwd and
# netpbm (scripts/install-deps.sh installs them).
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$repo/build}" && pwd)"
output="${2:-$repo/docs/images/window.png}"
case "$output" in /*) ;; *) output="$PWD/$output" ;; esac

if [ "${QUORVEL_SCREENSHOT_INSIDE:-}" != 1 ]; then
    QUORVEL_SCREENSHOT_INSIDE=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build" "$output"
fi

"$build/quorvel" "$repo/debug/OrlundePianoSonata.xml" >/dev/null &
program=$!
trap 'kill "$program" 2>/dev/null || true' EXIT

window=""
for _ in $(seq 1 100); do
    window="$(xdotool search --name '^Quorvel$' 2>/dev/null | head -n 1 || true)"
    [ -n "$window" ] && break
    kill -0 "$program" 2>/dev/null || { echo "quorvel ended before its window opened" >&2; exit 1; }
    sleep 0.1
done
[ -n "$window" ] || { echo "no Quorvel window appeared" >&2; exit 1; }
sleep 0.5

# Left drag: 400 pixels to the left turns the eye from the keyboard's high end to the player's
# side (yaw +90 degrees); 110 pixels up raises it by about 50 degrees.
xdotool mousemove --window "$window" 600 300 mousedown 1
for step in $(seq 1 10); do
    xdotool mousemove --window "$window" $((600 - 40 * step)) $((300 - 11 * step))
    sleep 0.02
done
xdotool mouseup 1

# Right drag downwards: away from the zoom origin above the window, one step of 0.3 per event.
xdotool mousemove --window "$window" 400 100 mousedown 3
for step in $(seq 1 10); do
    xdotool mousemove --window "$window" 400 $((100 + 10 * step))
    sleep 0.02
done
xdotool mouseup 3

# Play for a moment so some keys are down and the fingers are bent.
xdotool key --window "$window" p 2>/dev/null
sleep "${QUORVEL_SCREENSHOT_DELAY:-0.6}"

mkdir -p "$(dirname "$output")"
xwd -silent -id "$window" | xwdtopnm 2>/dev/null | pnmtopng -compression 9 >"$output"
xdotool key --window "$window" q 2>/dev/null || true
echo "wrote $output"
