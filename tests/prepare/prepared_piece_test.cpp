// The Piece the preparation builds from its own notes against what the classic reader and the
// timing reader make of the strict document it writes: the same notes in the grids, the same
// tempo map and measures, on real notation-program exports and on the preparation's own cases.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "music/piece.h"
#include "prepare/prepare.h"
#include "prepare/prepare_support.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"
#include "timeline/piece_timing.h"
#include "timeline/timeline.h"

namespace {
std::vector<std::vector<int>> notesOf(const Piece& piece) {
    std::vector<std::vector<int>> notes;
    for (const PieceNote& n : piece.notes) {
        notes.push_back({n.tick, n.hand, n.key, n.endTick});
    }
    std::sort(notes.begin(), notes.end());
    return notes;
}
}  // namespace

TEST(PreparedPiece, HoldsWhatTheReadersMakeOfThePreparedDocument) {
    std::vector<std::string> files;
    for (const char* folder : {"data/real", "data/prepare", "data/fingering"}) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const std::string ext = entry.path().extension().string();
            if (ext == ".musicxml" || ext == ".mxl" || ext == ".xml") {
                files.push_back(entry.path().string());
            }
        }
    }
    std::sort(files.begin(), files.end());
    size_t compared = 0;
    for (const std::string& path : files) {
        PrepareResult prepared;
        if (!prepareScore(path, PrepareOptions(), &prepared)) {
            continue;  // the preparation's refusals are tested on their own
        }
        ++compared;
        const Piece& piece = prepared.piece;
        ASSERT_EQ(loadPrepared(prepared).result, 0) << path;
        EXPECT_EQ(piece.divisions, divisions) << path;
        ScoreTiming timing;
        std::string error;
        ASSERT_TRUE(readScoreTiming(prepared.xml.data(), prepared.xml.size(), &timing, &error))
            << path << ": " << error;
        const Piece grids = pieceFromClassicGrids(tempoOfTiming(timing), {}, false);
        EXPECT_EQ(notesOf(grids), notesOf(piece)) << path;
        EXPECT_EQ(piece.notes.size(), prepared.notes.size()) << path;
        EXPECT_EQ(piece.endTick, timing.endTick) << path;
        ASSERT_EQ(piece.tempo.size(), timing.tempo.size()) << path;
        for (size_t i = 0; i < timing.tempo.size(); ++i) {
            EXPECT_EQ(piece.tempo[i].tick, timing.tempo[i].tick) << path;
            EXPECT_NEAR(piece.tempo[i].quartersPerMinute, timing.tempo[i].quartersPerMinute, 1e-6)
                << path;
        }
        ASSERT_EQ(piece.measures.size(), timing.measures.size()) << path;
        for (size_t i = 0; i < timing.measures.size(); ++i) {
            EXPECT_EQ(piece.measures[i].number, timing.measures[i].number) << path;
            EXPECT_EQ(piece.measures[i].tick, timing.measures[i].tick) << path;
        }
        for (const PieceNote& note : piece.notes) {
            EXPECT_NEAR(note.onset, tickToSeconds(timing, note.tick), 1e-9) << path;
        }
    }
    EXPECT_GE(compared, 30u);
}
