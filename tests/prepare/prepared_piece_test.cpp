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

namespace {
// Every cell of both grids, the divisions, the scan length and the reader's last cursor.
struct Grids {
    std::vector<NoteEvent> right, left;
    int32_t divisions = 0, scanLength = 0, total = 0;
};

Grids gridsNow() {
    return {rightNotes, leftNotes, divisions, scanLength, currentTick};
}

// The first cell where two grids differ, as a line for the failure message; "" when equal.
std::string firstDifference(const Grids& a, const Grids& b) {
    if (a.divisions != b.divisions || a.scanLength != b.scanLength || a.total != b.total ||
        a.right.size() != b.right.size() || a.left.size() != b.left.size()) {
        return "divisions " + std::to_string(a.divisions) + "/" + std::to_string(b.divisions) +
               ", total " + std::to_string(a.total) + "/" + std::to_string(b.total) + ", ticks " +
               std::to_string(a.right.size()) + "/" + std::to_string(b.right.size());
    }
    for (int hand = 0; hand < 2; ++hand) {
        const std::vector<NoteEvent>& x = hand == 0 ? a.right : a.left;
        const std::vector<NoteEvent>& y = hand == 0 ? b.right : b.left;
        for (size_t t = 0; t < x.size(); ++t) {
            for (int s = 0; s < kSlotCount; ++s) {
                if (x[t].slot[s].key != y[t].slot[s].key ||
                    x[t].slot[s].lastTick != y[t].slot[s].lastTick) {
                    return "hand " + std::to_string(hand) + " tick " + std::to_string(t) +
                           " slot " + std::to_string(s) + ": key " +
                           std::to_string(x[t].slot[s].key) + " last " +
                           std::to_string(x[t].slot[s].lastTick) + " against key " +
                           std::to_string(y[t].slot[s].key) + " last " +
                           std::to_string(y[t].slot[s].lastTick);
                }
            }
        }
    }
    return "";
}
}  // namespace

// The grids the session fills from the preparation's Piece are, cell for cell, those the classic
// reader makes of the strict document the preparation writes: on the real exports, the
// performance pieces, the bundled score and the ornament pieces, with and without the ornaments
// played, with repeats and without.
TEST(PreparedPiece, GridsFromThePieceEqualTheReadersGridsOfTheStrictDocument) {
    std::vector<std::string> files = {"../debug/OrlundePianoSonata.xml"};
    for (const char* folder :
         {"data/real", "data/performance", "data/ornaments", "data/prepare", "data/repeats"}) {
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
        for (int variant = 0; variant < 3; ++variant) {
            PrepareOptions options;
            options.ornaments = variant == 1;
            options.repeats = variant != 2;
            PrepareResult prepared;
            if (!prepareScore(path, options, &prepared)) {
                continue;
            }
            ++compared;
            ASSERT_EQ(loadPrepared(prepared).result, 0) << path;
            const Grids read = gridsNow();
            resetModel();
            ASSERT_TRUE(fillStrictGrids(prepared.piece)) << path;
            const Grids filled = gridsNow();
            EXPECT_EQ(firstDifference(read, filled), "") << path << " variant " << variant;
        }
    }
    EXPECT_GE(compared, 90u);
}
