#!/bin/sh
# Has musescore3 play our two-staff piano scores under tests/data (the fingered exercises and the
# rolled chords and fermata of the ornament scores) into MIDI files with one track per staff, in
# tests/data/hand_split/NAME.mid. bench_hand_split and the hand-split test merge their tracks into
# one and count the notes the hand planner gives to their staff's hand. Files already made are
# kept; remove one to make it again.
#
#   tools/hand-split-midi.sh
set -u

repo=$(cd "$(dirname "$0")/.." && pwd) || exit 1
out="$repo/tests/data/hand_split"
if ! command -v mscore3 >/dev/null 2>&1; then
    echo "hand-split-midi: mscore3 is not installed" >&2
    exit 1
fi
mkdir -p "$out" || exit 1
made=0
failed=0
for score in "$repo"/tests/data/fingering/*.xml "$repo/tests/data/ornaments/arpeggiate.musicxml" \
    "$repo/tests/data/ornaments/fermata.musicxml"; do
    name=$(basename "$score")
    target="$out/${name%.*}.mid"
    [ -s "$target" ] && continue
    # Written beside the target under another name, then renamed: no half-written file is left.
    partial="$out/.${name%.*}.partial.mid"
    if QT_QPA_PLATFORM=offscreen timeout 300 mscore3 -o "$partial" "$score" >/dev/null 2>&1 &&
        [ -s "$partial" ] && mv "$partial" "$target"; then
        made=$((made + 1))
    else
        rm -f "$partial"
        echo "hand-split-midi: musescore3 could not play $name" >&2
        failed=$((failed + 1))
    fi
done
echo "hand-split-midi: $made made, $failed failed"
[ "$failed" -eq 0 ]
