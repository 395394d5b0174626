#!/bin/sh
# The held-out set: scores we did not write, kept out of the repository. musescore3's bundled
# demo scores are exported as compressed MusicXML and, when lilypond-doc is installed, lilypond's
# MusicXML test files are copied, all into FOLDER; then quorvel-prepare runs on each one. Prints
# every failure with the program's own line, then the loaded and failed counts.
#
#   tools/real-scores.sh [FOLDER] [QUORVEL_PREPARE]
#       FOLDER           default /work/realscores
#       QUORVEL_PREPARE  default build/quorvel-prepare (relative to the repository)
set -u

top=$(cd "$(dirname "$0")/.." && pwd)
folder=${1:-/work/realscores}
prepare=${2:-$top/build/quorvel-prepare}

if [ ! -x "$prepare" ]; then
    echo "real-scores: $prepare is not a program (build quorvel-prepare first)" >&2
    exit 1
fi
mkdir -p "$folder/demos" "$folder/lilypond" "$folder/prepared" || exit 1

# musescore3's demos, exported by musescore3 itself.
if command -v mscore3 >/dev/null 2>&1; then
    dpkg -L musescore3 musescore3-common 2>/dev/null | grep -E '/demos/[^/]+\.msc[xz]$' |
        while read -r demo; do
            name=$(basename "$demo" | sed 's/\.msc[xz]$//')
            target="$folder/demos/$name.mxl"
            [ -s "$target" ] && continue
            QT_QPA_PLATFORM=offscreen timeout 300 mscore3 -o "$target" "$demo" >/dev/null 2>&1 ||
                echo "real-scores: musescore3 could not export $demo" >&2
        done
else
    echo "real-scores: mscore3 not installed, no demo scores" >&2
fi

# lilypond's MusicXML test files, as they are (some compressed with gzip).
dpkg -L lilypond-doc 2>/dev/null | grep -i musicxml | grep -E '\.(xml|mxl|musicxml)(\.gz)?$' |
    while read -r file; do
        name=$(basename "$file")
        case "$name" in
        *.gz) [ -s "$folder/lilypond/${name%.gz}" ] || gzip -dc "$file" >"$folder/lilypond/${name%.gz}" ;;
        *) [ -s "$folder/lilypond/$name" ] || cp "$file" "$folder/lilypond/$name" ;;
        esac
    done

loaded=0
failed=0
log="$folder/prepared/failures.txt"
: >"$log"
for score in "$folder"/demos/* "$folder"/lilypond/*; do
    [ -f "$score" ] || continue
    name=$(basename "$score")
    if timeout 60 "$prepare" "$score" "$folder/prepared/$name.xml" 2>"$folder/prepared/$name.err"; then
        loaded=$((loaded + 1))
    else
        failed=$((failed + 1))
        line=$(tail -n 1 "$folder/prepared/$name.err")
        [ -n "$line" ] || line="(no message; status $?)"
        echo "FAILED $name: $line" | tee -a "$log"
    fi
done
echo "loaded: $loaded  failed: $failed  (folder: $folder)"
