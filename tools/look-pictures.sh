#!/usr/bin/env bash
# Pictures of the new look for the documentation, drawn by the built exporter without a display:
# the player's view with the falling notes, a close view of the hands (the follow camera) and a
# portrait frame for phones, all of the bundled sonata at measure 5.
#
#   tools/look-pictures.sh [build-dir] [output-folder]
#
# Defaults: build-dir "build", output folder "docs/images"; the files are look-player.png,
# look-hands.png and look-portrait.png.
set -euo pipefail

repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$repo/build}" && pwd)"
output="${2:-$repo/docs/images}"
mkdir -p "$output"
score="$repo/debug/OrlundePianoSonata.xml"

still() {
    local name="$1"
    shift
    "$build/quorvel" --still "$output/$name" "$@" "$score" >/dev/null
    echo "wrote $output/$name"
}

still look-player.png --at m5
still look-hands.png --at m5 --camera follow
still look-portrait.png --at m5 --size 1080x1920
