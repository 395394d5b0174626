#!/bin/sh
# Refits the whole-piece planner's cost tables (data/fingering/fitted_costs.inc and, beside it,
# fitted_second.inc) from the fingered scores in data/fingering-train (the pieces its split.tsv
# marks train) and rebuilds the program with the new tables compiled in. Takes about five minutes.
# Arguments go to quorvel-fingering-fit (--data, --split, --out, --exercises, --continue to
# search on from the weights and rules of the table compiled in now, as the committed one was).
set -eu
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target quorvel-fingering-fit
"$build/quorvel-fingering-fit" "$@"
cmake --build "$build" -j2 --target quorvel quorvel-fingering
