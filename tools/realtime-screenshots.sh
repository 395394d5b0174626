#!/usr/bin/env bash
# Pictures of the real-time window for the documentation: starts the built quorvel in its
# real-time mode (muted) on the bundled score under a virtual X server, starts the performance
# and saves the window at a few moments of it as PNG files.
#
#   tools/realtime-screenshots.sh [build-dir] [output-folder] [seconds ...]
#
# Defaults: build-dir "build", output folder "docs/images", moments 2.4, 5.1 and 8.3 seconds
# after "p"; the files are realtime-1.png, realtime-2.png, ... Needs xvfb-run, xdotool, xwd and
# netpbm.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$repo/build}" && pwd)"
output="${2:-$repo/docs/images}"
case "$output" in /*) ;; *) output="$PWD/$output" ;; esac
shift $(( $# > 2 ? 2 : $# ))
moments=("$@")
[ ${#moments[@]} -gt 0 ] || moments=(2.4 5.1 8.3)

if [ "${QUORVEL_SCREENSHOT_INSIDE:-}" != 1 ]; then
    QUORVEL_SCREENSHOT_INSIDE=1 exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build" \
        "$output" "${moments[@]}"
fi

"$build/quorvel" --realtime --mute "$repo/debug/OrlundePianoSonata.xml" >/dev/null &
program=$!
trap 'kill "$program" 2>/dev/null || true' EXIT

window=""
for _ in $(seq 1 100); do
    window="$(xdotool search --onlyvisible --name '^Quorvel$' 2>/dev/null | head -n 1 || true)"
    [ -n "$window" ] && break
    kill -0 "$program" 2>/dev/null || { echo "quorvel ended before its window opened" >&2; exit 1; }
    sleep 0.1
done
[ -n "$window" ] || { echo "no Quorvel window appeared" >&2; exit 1; }
sleep 0.5

mkdir -p "$output"
xdotool key --window "$window" p 2>/dev/null
start=$(date +%s.%N)
number=1
for moment in "${moments[@]}"; do
    wait_for=$(awk -v s="$start" -v m="$moment" -v n="$(date +%s.%N)" \
        'BEGIN { w = s + m - n; printf "%.3f", (w > 0 ? w : 0) }')
    sleep "$wait_for"
    file="$output/realtime-$number.png"
    xwd -silent -id "$window" | xwdtopnm 2>/dev/null | pnmtopng -compression 9 >"$file"
    echo "wrote $file ($moment s after p)"
    number=$((number + 1))
done
xdotool key --window "$window" q 2>/dev/null || true
