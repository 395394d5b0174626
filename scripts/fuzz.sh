#!/usr/bin/env bash
# Builds the fuzzing targets with clang and runs them for a while: the reader for half the time,
# the score preparation for the other half.
#   scripts/fuzz.sh [seconds] [corpus dir]
# The corpus starts from the test scores and the bundled sonata; findings land in
# <corpus dir>/../fuzz-artifacts. Exits non-zero when the fuzzer finds a crash, leak or hang.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
corpus="${2:-/tmp/quorvel-fuzz-corpus}"
artifacts="$(dirname "$corpus")/fuzz-artifacts"
mkdir -p "$corpus" "$artifacts"
cp -n tests/data/*.xml debug/OrlundePianoSonata.xml "$corpus"/ 2>/dev/null || true

CXX=clang++ cmake -S . -B build-fuzz -DQUORVEL_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target fuzz_reader fuzz_prepare -j2 >/dev/null

half=$(( (seconds + 1) / 2 ))
build-fuzz/fuzz/fuzz_reader "$corpus" -dict=fuzz/musicxml.dict -max_total_time="$half" \
    -rss_limit_mb=2048 -timeout=10 -max_len=65536 -close_fd_mask=3 -print_final_stats=1 \
    -artifact_prefix="$artifacts"/

# The preparation reads what editors write: seeded with the preparation's own test scores too.
mkdir -p "$corpus-prepare"
cp -n tests/data/*.xml tests/data/prepare/*.xml "$corpus-prepare"/ 2>/dev/null || true
build-fuzz/fuzz/fuzz_prepare "$corpus-prepare" -dict=fuzz/prepare.dict \
    -max_total_time="$(( seconds - half > 1 ? seconds - half : 1 ))" \
    -rss_limit_mb=2048 -timeout=10 -max_len=65536 -close_fd_mask=3 -print_final_stats=1 \
    -artifact_prefix="$artifacts"/
