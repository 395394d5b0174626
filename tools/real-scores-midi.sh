#!/bin/sh
# Has musescore3 play every MusicXML score under FOLDER into a MIDI file: FILE under FOLDER
# becomes CACHE/FILE.mid (same relative path). Files already made are kept. The notes of these
# files are what bench_real_scores compares the grids with.
#
#   tools/real-scores-midi.sh FOLDER CACHE
set -u

if [ $# -ne 2 ]; then
    echo "usage: real-scores-midi.sh FOLDER CACHE" >&2
    exit 2
fi
folder=$(cd "$1" && pwd) || exit 1
mkdir -p "$2" || exit 1
cache=$(cd "$2" && pwd) || exit 1
if ! command -v mscore3 >/dev/null 2>&1; then
    echo "real-scores-midi: mscore3 is not installed" >&2
    exit 1
fi

made=0
failed=0
find "$folder" -type f \( -name '*.xml' -o -name '*.mxl' -o -name '*.musicxml' \) | sort |
    {
        while read -r score; do
            relative=${score#"$folder"/}
            target="$cache/$relative.mid"
            [ -s "$target" ] && continue
            mkdir -p "$(dirname "$target")"
            if QT_QPA_PLATFORM=offscreen timeout 300 mscore3 -o "$target" "$score" \
                >/dev/null 2>&1 && [ -s "$target" ]; then
                made=$((made + 1))
            else
                rm -f "$target"
                echo "real-scores-midi: musescore3 could not play $relative" >&2
                failed=$((failed + 1))
            fi
        done
        echo "real-scores-midi: $made made, $failed failed"
    }
