// The hand planner on real two-staff piano music merged into one track: musescore3's MIDI
// exports of our scores (in tests/data/hand_split and beside the scores they were made from;
// merged into a single track and read back as a file), and the fingered pieces and exercises of
// data/fingering-train (their notes given to the planner directly). Each file must give at least
// the share of its notes to the hand of their staff that is written here for it; the figures are
// what bench_hand_split measures, rounded down.

#include "midi/hand_split.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fingering/fingering_corpus.h"
#include "midi/midi_file.h"
#include "prepare/container.h"
#include "support/smf_bytes.h"

namespace {
// Pieces whose staves the planner cannot wholly tell apart: an inner voice printed in the upper
// staff but lying where the left hand plays, or the accompaniment moving between the staves.
// Every other file must reach 95 %.
const std::map<std::string, double> kHarderPieces = {
    {"mutopia-beethovenlv-pathetique-2.tsv", 84.0}, {"mutopia-burgmullerjff-25ef-13.tsv", 92.0},
    {"mutopia-burgmullerjff-25ef-16.tsv", 93.5},    {"mutopia-chopinff-mazurka-op6-no1.tsv", 92.0},
    {"mutopia-lisztf-ballade.tsv", 93.0},
};
constexpr double kEveryOther = 95.0;
// A file of fewer notes is too small for a share: it may give one note to the other hand (a
// rolled chord across the staves whose middle note either hand could take).
constexpr size_t kSmallFile = 20;
constexpr double kAllNotes = 96.5;  // over every note of every file

double floorFor(const std::string& name) {
    const auto found = kHarderPieces.find(name);
    return found != kHarderPieces.end() ? found->second : kEveryOther;
}

struct Tally {
    size_t notes = 0;
    size_t right = 0;
};

// The staff hand of every note against the planner's hand, by (tick, key) of each note.
Tally compare(const std::vector<PieceNote>& staves, const std::vector<PieceNote>& split) {
    Tally tally;
    tally.notes = staves.size();
    std::vector<std::pair<std::pair<int32_t, int32_t>, int>> planned;
    for (const PieceNote& n : split) {
        planned.push_back({{n.tick, n.key}, n.hand});
    }
    std::sort(planned.begin(), planned.end());
    for (const PieceNote& n : staves) {
        const auto at = std::lower_bound(planned.begin(), planned.end(),
                                         std::make_pair(std::make_pair(n.tick, n.key), -1));
        if (at != planned.end() && at->first == std::make_pair(n.tick, n.key)) {
            tally.right += at->second == n.hand ? 1 : 0;
        }
    }
    return tally;
}
}  // namespace

TEST(HandSplit, RealTwoStaffMusicMergedIntoOneTrackGoesToTheHandsOfItsStaves) {
    Tally all;
    size_t files = 0;
    // MIDI exports with one track per staff: merged into one track and read as a file.
    std::vector<std::string> exports;
    for (const char* folder :
         {"data/real", "data/performance", "data/repeats", "data/ornaments", "data/hand_split"}) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().extension() == ".mid") {
                exports.push_back(entry.path().string());
            }
        }
    }
    std::sort(exports.begin(), exports.end());
    for (const std::string& path : exports) {
        std::string bytes;
        std::string error;
        ASSERT_TRUE(readScoreBytes(path, &bytes, &error)) << path << ": " << error;
        Piece staves;
        MidiReadReport report;
        ASSERT_TRUE(readMidi(bytes, MidiReadOptions(), &staves, &report, &error)) << path;
        SmfTrack merged;
        for (const PieceNote& n : staves.notes) {
            merged.note(static_cast<uint32_t>(n.tick), static_cast<uint32_t>(n.endTick), n.key + 21,
                        n.velocity);
        }
        Piece split;
        ASSERT_TRUE(readMidi(smfBytes(0, staves.divisions, {merged}), MidiReadOptions(), &split,
                             &report, &error))
            << path << ": " << error;
        ASSERT_EQ(split.notes.size(), staves.notes.size()) << path;
        // The reader may count the merged file in coarser ticks.
        ASSERT_GT(split.divisions, 0);
        ASSERT_EQ(staves.divisions % split.divisions, 0) << path;
        for (PieceNote& n : split.notes) {
            n.tick *= staves.divisions / split.divisions;
        }
        const Tally tally = compare(staves.notes, split.notes);
        if (tally.notes < kSmallFile) {
            EXPECT_LE(tally.notes - tally.right, 1u) << path;
        } else {
            EXPECT_GE(tally.right * 100.0, floorFor(path) * tally.notes)
                << path << ": " << tally.right << " of " << tally.notes;
        }
        all.notes += tally.notes;
        all.right += tally.right;
        ++files;
    }
    // The fingered pieces: the hand of each note is its staff's (the exercises: their voice's).
    const std::string pieces = "../data/fingering-train/pieces";
    std::vector<std::string> lists;
    for (const auto& entry : std::filesystem::directory_iterator(pieces)) {
        lists.push_back(entry.path().string());
    }
    std::sort(lists.begin(), lists.end());
    for (const std::string& path : lists) {
        CorpusPiece piece;
        std::string error;
        ASSERT_TRUE(readCorpusPiece(path, &piece, &error)) << error;
        std::vector<PieceNote> staves;
        for (const CorpusNote& c : piece.notes) {
            PieceNote n;
            n.hand = c.hand;
            n.key = c.key;
            n.tick = static_cast<int32_t>((c.onsetNum * 960 + c.onsetDen / 2) / c.onsetDen);
            const int64_t endNum = c.onsetNum * c.durationDen + c.durationNum * c.onsetDen;
            const int64_t endDen = c.onsetDen * c.durationDen;
            n.endTick =
                std::max(n.tick + 1, static_cast<int32_t>((endNum * 960 + endDen / 2) / endDen));
            staves.push_back(n);
        }
        std::vector<PieceNote> split = staves;
        std::vector<size_t> which(split.size());
        for (size_t i = 0; i < split.size(); ++i) {
            which[i] = i;
            split[i].hand = 0;
        }
        splitHands(&split, which);
        Tally tally;
        tally.notes = staves.size();
        for (size_t i = 0; i < staves.size(); ++i) {
            tally.right += split[i].hand == staves[i].hand ? 1 : 0;
        }
        const std::string name = std::filesystem::path(path).filename().string();
        EXPECT_GE(tally.right * 100.0, floorFor(name) * tally.notes)
            << name << ": " << tally.right << " of " << tally.notes;
        all.notes += tally.notes;
        all.right += tally.right;
        ++files;
    }
    EXPECT_GE(files, 140u);
    EXPECT_GE(all.right * 100.0, kAllNotes * all.notes) << all.right << " of " << all.notes;
}
