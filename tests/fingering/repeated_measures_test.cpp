// Identical measures get identical fingerings, wherever they stand in the piece (also a measure
// repeated right at the start, which has nothing before it): over real notation-program exports
// and the bundled sonata taken through the preparation as the program takes them, measured in the
// score's own measures, and over the fingered training scores by their measure numbers.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "app/state.h"
#include "fingering/fingering_corpus.h"
#include "fingering/optimal_planner.h"
#include "prepare/prepare.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"
#include "timeline/timeline.h"

namespace {

// A note as the comparison sees it.
struct MeasureNote {
    int hand;
    int32_t tick;
    int32_t length;
    int32_t key;
    int printed;  // 0..4, -1 none
};

int fingerAt(int hand, int32_t tick, int32_t key) {
    const std::vector<NoteEvent>& grid = hand == 0 ? rightNotes : leftNotes;
    if (tick < 0 || tick >= static_cast<int32_t>(grid.size())) {
        return -1;
    }
    for (int k = 0; k < kSlotCount; ++k) {
        if (grid[tick].slot[k].key == key) {
            return k;
        }
    }
    return -1;
}

struct Tally {
    size_t compared = 0;
    size_t differing = 0;
};

// Per hand, measures (given by their first ticks, `ends` one past the last) whose notes are the
// same keys at the same times with the same lengths and the same printed fingers, and whose held
// notes coming in from before are the same, get the same finger on every note.
void compareMeasures(const std::string& name, const std::vector<MeasureNote>& notes,
                     const std::vector<int32_t>& starts, Tally* tally) {
    for (int hand = 0; hand < 2; ++hand) {
        std::map<std::vector<int32_t>, std::vector<int>> seen;
        for (size_t m = 0; m < starts.size(); ++m) {
            const int32_t begin = starts[m];
            const int32_t end = m + 1 < starts.size() ? starts[m + 1] : INT32_MAX;
            std::vector<std::tuple<int32_t, int32_t, int32_t, int>> inside;
            std::vector<int> fingers;
            for (const MeasureNote& n : notes) {
                if (n.hand != hand) {
                    continue;
                }
                if (n.tick >= begin && n.tick < end) {
                    inside.emplace_back(n.tick - begin, n.key, n.length, n.printed);
                } else if (n.tick < begin && n.tick + n.length > begin) {
                    inside.emplace_back(-1, n.key, n.tick + n.length - begin, n.printed);
                }
            }
            if (inside.empty()) {
                continue;
            }
            std::sort(inside.begin(), inside.end());
            std::vector<int32_t> signature = {end == INT32_MAX ? -1 : end - begin};
            for (const auto& [at, key, length, printed] : inside) {
                signature.insert(signature.end(), {at, key, length, printed});
                const int32_t tick = at < 0 ? begin : begin + at;
                fingers.push_back(fingerAt(hand, tick, key));
            }
            const auto found = seen.emplace(signature, fingers);
            if (!found.second) {
                ++tally->compared;
                tally->differing += found.first->second == fingers ? 0 : 1;
                EXPECT_EQ(found.first->second, fingers)
                    << name << " hand " << hand << " measure at tick " << begin;
            }
        }
    }
}

TEST(RepeatedMeasures, RealExportsAndTheBundledSonataThroughThePreparation) {
    std::vector<std::string> paths;
    for (const auto& entry :
         std::filesystem::directory_iterator(QUORVEL_SOURCE_DIR "/tests/data/real")) {
        if (entry.path().extension() == ".mxl") {
            paths.push_back(entry.path().string());
        }
    }
    std::sort(paths.begin(), paths.end());
    paths.push_back(QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.xml");
    ASSERT_GE(paths.size(), 8u);
    Tally tally;
    size_t pieces = 0;
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        PrepareResult prepared;
        ASSERT_TRUE(prepareScore(path, PrepareOptions{}, &prepared)) << prepared.error;
        setStartValues();
        rightNotes.clear();
        leftNotes.clear();
        scanLength = 0;
        ASSERT_EQ(loadScoreFromBuffer(prepared.xml.data(), prepared.xml.size(), nullptr), 0)
            << lastLoadError;
        createKeyStates();
        ScoreTiming timing;
        std::string error;
        ASSERT_TRUE(readScoreTiming(prepared.xml.data(), prepared.xml.size(), &timing, &error))
            << error;
        std::vector<PrintedFinger> printed;
        std::vector<MeasureNote> notes;
        for (const PreparedNote& n : prepared.notes) {
            const int finger = n.printedFinger - 1;
            notes.push_back({n.hand, n.tick, n.length, n.key, finger});
            if (finger >= 0) {
                printed.push_back({n.hand, n.tick, n.key, finger});
            }
        }
        std::vector<int32_t> starts;
        for (const MeasureStart& m : timing.measures) {
            if (starts.empty() || m.tick > starts.back()) {
                starts.push_back(m.tick);
            }
        }
        resetPerformance();
        planHandsOptimal(printed, starts);
        const size_t before = tally.compared;
        compareMeasures(path, notes, starts, &tally);
        pieces += tally.compared > before ? 1 : 0;
    }
    // The sonata repeats measures (the short exports hardly do): the check is not vacuous.
    EXPECT_GE(tally.compared, 20u);
    EXPECT_GE(pieces, 1u);
    EXPECT_EQ(tally.differing, 0u);
}

TEST(RepeatedMeasures, FingeredTrainingScoresByTheirMeasureNumbers) {
    const std::string data = QUORVEL_SOURCE_DIR "/data/fingering-train/pieces";
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(data)) {
        paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    Tally tally;
    for (const std::string& path : paths) {
        CorpusPiece piece;
        std::string error;
        ASSERT_TRUE(readCorpusPiece(path, &piece, &error)) << error;
        setStartValues();
        createKeyStates();
        const std::vector<PlacedNote> placed = fillGrids(piece);
        const std::vector<int32_t> starts = measureStarts(placed);
        resetPerformance();
        planHandsOptimal({}, starts);
        std::vector<MeasureNote> notes;
        for (const PlacedNote& n : placed) {
            if (n.placed) {
                notes.push_back({n.hand, n.tick, n.length, n.key, -1});
            }
        }
        compareMeasures(piece.name, notes, starts, &tally);
    }
    EXPECT_GE(tally.compared, 100u);
    EXPECT_EQ(tally.differing, 0u);
}

}  // namespace
