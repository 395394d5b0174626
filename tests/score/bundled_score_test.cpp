// The score that ships with the program must load cleanly: it is what the program opens when
// started without arguments, and the first thing a user sees.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "score/musicxml_reader.h"
#include "score/score_model.h"

namespace {

const std::string kBundledScore = QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.xml";
// The grids the score's generator computed from the same file with the reader's rules, one tick a
// line: five key/lastTick pairs of the right hand, then five of the left hand.
const std::string kBundledGrids = QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.grid";
// The bundled piece is a full movement; anything shorter means measures were lost.
constexpr int32_t kMinimumMeasures = 48;
constexpr int32_t kQuartersPerMeasure = 4;

void resetModel() {
    rightNotes.clear();
    leftNotes.clear();
    currentTick = -1;
    divisions = 0;
    scanLength = 0;
}

struct LoadResult {
    int32_t status;
    std::string out;
    std::string err;
};

LoadResult load(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int32_t status = loadScore(static_cast<int>(args.size()), argv.data());
    std::fflush(stdout);
    std::fflush(stderr);
    LoadResult result{status, "", ""};
    result.out = testing::internal::GetCapturedStdout();
    result.err = testing::internal::GetCapturedStderr();
    return result;
}

std::string totalsText() {
    char text[160];
    std::snprintf(text, sizeof text,
                  "\nTotal duration: %d\nDivisions : %d\nQuarter Note Count : %f\n", currentTick,
                  divisions, static_cast<double>(currentTick) / divisions);
    return text;
}

// Checks one hand's grid: keys on the keyboard, and a note that goes on (lastTick 0) really
// is held in the next tick too, so the animation never leaves a key down for good.
void checkGrid(const char* hand, const std::vector<NoteEvent>& grid) {
    size_t notes = 0;
    for (size_t t = 0; t < grid.size(); ++t) {
        for (const NoteSlot& slot : grid[t].slot) {
            if (slot.key == kNoKey) {
                continue;
            }
            ASSERT_GE(slot.key, 0) << hand << " tick " << t;
            ASSERT_LT(slot.key, kKeyCount) << hand << " tick " << t;
            ASSERT_TRUE(slot.lastTick == 0 || slot.lastTick == 1) << hand << " tick " << t;
            ++notes;
            if (slot.lastTick == 1) {
                continue;
            }
            ASSERT_LT(t + 1, grid.size()) << hand << ": a note runs past the end at " << t;
            bool held = false;
            for (const NoteSlot& next : grid[t + 1].slot) {
                held = held || next.key == slot.key;
            }
            EXPECT_TRUE(held) << hand << ": key " << slot.key << " goes on after tick " << t
                              << " but is not held in the next tick";
        }
    }
    EXPECT_GT(notes, grid.size()) << hand << " plays too little of the piece";
}

TEST(BundledScore, LoadsCleanlyWithBothHandsInStep) {
    ASSERT_TRUE(std::filesystem::exists(kBundledScore)) << kBundledScore;
    resetModel();
    const LoadResult result = load({"quorvel", kBundledScore});

    ASSERT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.rfind("Loading MusicXML file...\nFile : " + kBundledScore + "\n", 0), 0u)
        << result.out;

    ASSERT_GT(divisions, 0);
    EXPECT_EQ(scanLength, 4 * divisions);
    ASSERT_EQ(rightNotes.size(), leftNotes.size());
    EXPECT_GT(static_cast<int64_t>(rightNotes.size()),
              int64_t{kMinimumMeasures} * kQuartersPerMeasure * divisions);
    // The piece ends on the last tick written, and that is what the totals report.
    EXPECT_EQ(static_cast<size_t>(currentTick) + 1, rightNotes.size());
    EXPECT_NE(result.out.find(totalsText()), std::string::npos) << result.out;

    checkGrid("right hand", rightNotes);
    checkGrid("left hand", leftNotes);
}

// The generator's own model of the reader and the program's reader are written independently;
// they must agree on every slot of every tick (chord move-back, backup, forward, slot order).
TEST(BundledScore, MatchesTheGridsComputedByItsGenerator) {
    std::ifstream grids(kBundledGrids);
    ASSERT_TRUE(grids) << kBundledGrids;
    std::vector<NoteEvent> right, left;
    NoteEvent r, l;
    while (true) {
        bool ok = true;
        for (NoteSlot& slot : r.slot) {
            ok = ok && static_cast<bool>(grids >> slot.key >> slot.lastTick);
        }
        for (NoteSlot& slot : l.slot) {
            ok = ok && static_cast<bool>(grids >> slot.key >> slot.lastTick);
        }
        if (!ok) {
            break;
        }
        right.push_back(r);
        left.push_back(l);
    }
    ASSERT_FALSE(right.empty());

    resetModel();
    const LoadResult result = load({"quorvel", kBundledScore});
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    ASSERT_EQ(rightNotes.size(), right.size());
    ASSERT_EQ(leftNotes.size(), left.size());
    for (size_t t = 0; t < right.size(); ++t) {
        for (int k = 0; k < kSlotCount; ++k) {
            ASSERT_EQ(rightNotes[t].slot[k].key, right[t].slot[k].key) << "right, tick " << t;
            ASSERT_EQ(rightNotes[t].slot[k].lastTick, right[t].slot[k].lastTick)
                << "right, tick " << t << ", slot " << k;
            ASSERT_EQ(leftNotes[t].slot[k].key, left[t].slot[k].key) << "left, tick " << t;
            ASSERT_EQ(leftNotes[t].slot[k].lastTick, left[t].slot[k].lastTick)
                << "left, tick " << t << ", slot " << k;
        }
    }
}

TEST(BundledScore, IsTheDefaultWhenNoPathIsGiven) {
    // The default path is relative to the working directory; tests/ sits next to debug/.
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(QUORVEL_SOURCE_DIR "/tests");

    resetModel();
    const LoadResult byDefault = load({"quorvel"});
    const std::vector<NoteEvent> rightByDefault = rightNotes;
    const std::vector<NoteEvent> leftByDefault = leftNotes;
    const int32_t ticksByDefault = currentTick;

    resetModel();
    const LoadResult byPath = load({"quorvel", kBundledScore});
    std::filesystem::current_path(before);

    ASSERT_EQ(byDefault.status, 0) << byDefault.out << byDefault.err;
    ASSERT_EQ(byPath.status, 0) << byPath.out << byPath.err;
    EXPECT_EQ(byDefault.out.find("File : "), std::string::npos) << byDefault.out;
    EXPECT_EQ(byDefault.err, "");
    EXPECT_EQ(ticksByDefault, currentTick);
    ASSERT_EQ(rightByDefault.size(), rightNotes.size());
    ASSERT_EQ(leftByDefault.size(), leftNotes.size());
    for (size_t t = 0; t < rightNotes.size(); ++t) {
        for (int k = 0; k < kSlotCount; ++k) {
            ASSERT_EQ(rightByDefault[t].slot[k].key, rightNotes[t].slot[k].key) << "tick " << t;
            ASSERT_EQ(leftByDefault[t].slot[k].key, leftNotes[t].slot[k].key) << "tick " << t;
        }
    }
}

}  // namespace
