// One piece of the score, read once: what the session takes from the tree the classic reader
// parsed (tempo, measures, printed fingers, titles, marks) against what the text readers make of
// the same file, and a prepared score's grids, timing and messages against what the reader
// makes of the strict document the preparation wrote.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <pugixml.hpp>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/session.h"
#include "fingering/optimal_printed.h"
#include "prepare/prepare.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"
#include "score/score_support.h"
#include "timeline/score_tree.h"
#include "timeline/timeline.h"

namespace {
std::string textOfFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void expectSameTiming(const ScoreTiming& a, const ScoreTiming& b, const std::string& what) {
    EXPECT_EQ(a.divisions, b.divisions) << what;
    EXPECT_EQ(a.endTick, b.endTick) << what;
    ASSERT_EQ(a.tempo.size(), b.tempo.size()) << what;
    for (size_t i = 0; i < a.tempo.size(); ++i) {
        EXPECT_EQ(a.tempo[i].tick, b.tempo[i].tick) << what;
        EXPECT_NEAR(a.tempo[i].quartersPerMinute, b.tempo[i].quartersPerMinute,
                    1e-9 * b.tempo[i].quartersPerMinute)
            << what;
    }
    ASSERT_EQ(a.measures.size(), b.measures.size()) << what;
    for (size_t i = 0; i < a.measures.size(); ++i) {
        EXPECT_EQ(a.measures[i].number, b.measures[i].number) << what;
        EXPECT_EQ(a.measures[i].tick, b.measures[i].tick) << what;
    }
    ASSERT_EQ(a.tiedOn.size(), b.tiedOn.size()) << what;
    for (size_t i = 0; i < a.tiedOn.size(); ++i) {
        EXPECT_EQ(a.tiedOn[i].key, b.tiedOn[i].key) << what;
        EXPECT_EQ(a.tiedOn[i].tick, b.tiedOn[i].tick) << what;
    }
}

using Mark = std::tuple<int, int32_t, int32_t, int>;  // hand, tick, key, finger 1..5

// Strict scores of the repository: the bundled sonata, the fingering exercises, and the strict
// documents the preparation writes of the real exports (in a temporary folder).
std::vector<std::string> strictScores() {
    std::vector<std::string> files = {"../debug/OrlundePianoSonata.xml"};
    for (const auto& entry : std::filesystem::directory_iterator("data/fingering")) {
        if (entry.path().extension() == ".xml") {
            files.push_back(entry.path().string());
        }
    }
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "quorvel_session_piece_test";
    std::filesystem::create_directories(folder);
    for (const auto& entry : std::filesystem::directory_iterator("data/real")) {
        PrepareResult prepared;
        if (entry.path().extension() == ".mxl" &&
            prepareScore(entry.path().string(), PrepareOptions{}, &prepared)) {
            const std::string path = (folder / entry.path().stem()).string() + ".xml";
            std::ofstream(path, std::ios::binary) << prepared.xml;
            tempFiles.paths.push_back(path);
            files.push_back(path);
        }
    }
    std::sort(files.begin() + 1, files.end());
    return files;
}
}  // namespace

// The tree the reader parsed gives the tempo, measures and ties the timing reader makes of the
// text, the printed fingers of every note where the reader places it, and a piece holding the
// grids' notes with those fingers and the score's title.
TEST(SessionPiece, TheReadersTreeHoldsWhatTheTextReadersRead) {
    size_t compared = 0;
    size_t fingers = 0;
    for (const std::string& path : strictScores()) {
        resetModel();
        std::shared_ptr<const pugi::xml_document> tree;
        int loaded = -1;
        const Captured output =
            capture([&] { loaded = loadScoreFileKeepingTree(path.c_str(), path.c_str(), &tree); });
        if (loaded != 0) {
            EXPECT_EQ(tree, nullptr) << path;
            continue;  // refused by the reader as it is; its refusals are tested on their own
        }
        ++compared;
        EXPECT_NE(output.out.find("Total duration"), std::string::npos) << path;
        ASSERT_NE(tree, nullptr) << path;
        EXPECT_EQ(domLiveHandles, 0) << "the tree is no longer the reader's to hold";
        ScoreTreeReading reading;
        std::string error;
        ASSERT_TRUE(readScoreTree(*tree, &reading, &error)) << path << ": " << error;

        const std::string text = textOfFile(path);
        ScoreTiming timing;
        ASSERT_TRUE(readScoreTiming(text.data(), text.size(), &timing, &error)) << path;
        expectSameTiming(reading.timing, timing, path);

        std::vector<PrintedFinger> printed;
        ASSERT_TRUE(readPrintedFingers(text, &printed, &error)) << path;
        std::set<Mark> fromText;
        for (const PrintedFinger& f : printed) {
            fromText.insert({f.hand, f.tick, f.key, f.finger + 1});
        }
        std::set<Mark> fromTree;
        for (const PrintedMark& m : reading.printed) {
            fromTree.insert({m.hand, m.tick, m.key, m.finger});
        }
        EXPECT_EQ(fromTree, fromText) << path;
        fingers += fromTree.size();

        const Piece piece = pieceOfLoadedScore(reading);
        std::set<Mark> onNotes;
        size_t gridNotes = 0;
        for (int hand = 0; hand < 2; ++hand) {
            const std::vector<NoteEvent>& grid = hand == 0 ? rightNotes : leftNotes;
            for (const NoteEvent& event : grid) {
                for (const NoteSlot& slot : event.slot) {
                    gridNotes += slot.key != kNoKey && slot.lastTick == 1 ? 1 : 0;
                }
            }
        }
        EXPECT_EQ(piece.notes.size(), gridNotes) << path;
        for (const PieceNote& note : piece.notes) {
            ASSERT_TRUE(note.key >= 0 && note.key < kKeyCount) << path;
            const NoteEvent& first =
                (note.hand == 0 ? rightNotes : leftNotes)[static_cast<size_t>(note.tick)];
            EXPECT_TRUE(std::any_of(std::begin(first.slot), std::end(first.slot),
                                    [&](const NoteSlot& s) { return s.key == note.key; }))
                << path;
            if (note.printedFinger > 0) {
                onNotes.insert({note.hand, note.tick, note.key, note.printedFinger});
            }
        }
        EXPECT_EQ(onNotes, fromTree) << path << ": every printed finger is on a note of the grids";
        EXPECT_EQ(piece.divisions, divisions) << path;
        EXPECT_EQ(piece.endTick, static_cast<int32_t>(rightNotes.size())) << path;
    }
    EXPECT_GE(compared, 12u);
    EXPECT_GT(fingers, 100u);
}

// A score read as it is in a performance mode: the session's piece carries the title, printed
// fingers and the dynamics of the bundled sonata, and its timing is the text's.
TEST(SessionPiece, TheBundledScoreAsReadKeepsItsMarks) {
    ProgramOptions options;
    options.mode = RunMode::Still;
    options.longOptions = true;
    int started = -1;
    capture([&] { started = startUpSession(options); });
    ASSERT_EQ(started, 0);
    EXPECT_EQ(sessionPiece.title, "Orlunde Piano Sonata");
    EXPECT_EQ(sessionPiece.composer, "The Quorvel developers");
    ASSERT_NE(sessionPerformancePiece(), nullptr) << "the sonata's dynamics were read";
    std::set<int> velocities;
    for (const PieceNote& note : sessionPiece.notes) {
        velocities.insert(note.velocity);
    }
    EXPECT_GE(velocities.size(), 3u) << "the marks give the notes more than one loudness";
    const std::string text = textOfFile(kDefaultScorePath);
    ScoreTiming timing;
    std::string error;
    ASSERT_TRUE(readScoreTiming(text.data(), text.size(), &timing, &error)) << error;
    expectSameTiming(sessionTiming, timing, "the bundled score");
    EXPECT_TRUE(sessionDocument.empty()) << "no text is kept of a score read as it is";
}

// A prepared score: the session prints what the reader printed of the strict document, fills
// the same grids, and times it as the timing reader times that document, ties included.
TEST(SessionPiece, APreparedScoreIsLoadedAsTheReaderLoadsItsStrictDocument) {
    size_t compared = 0;
    for (const char* score :
         {"data/real/ties.mxl", "data/real/twovoices.mxl", "data/performance/dynamics_marks.xml",
          "data/ornaments/ornate.musicxml", "../debug/OrlundePianoSonata.xml"}) {
        for (const RunMode mode : {RunMode::Classic, RunMode::Still}) {
            ProgramOptions options;
            options.mode = mode;
            options.longOptions = true;
            options.prepare = true;
            options.score = score;
            int started = -1;
            const Captured session = capture([&] { started = startUpSession(options); });
            ASSERT_EQ(started, 0) << score << session.err;
            const std::vector<NoteEvent> right = rightNotes;
            const std::vector<NoteEvent> left = leftNotes;
            ScoreTiming timing;
            std::string error;
            ASSERT_TRUE(
                readScoreTiming(sessionDocument.data(), sessionDocument.size(), &timing, &error))
                << score;
            expectSameTiming(sessionTiming, timing, score);

            resetModel();
            int loaded = -1;
            const Captured reader = capture([&] {
                loaded = loadScoreFromBuffer(sessionDocument.data(), sessionDocument.size(), score);
            });
            ASSERT_EQ(loaded, 0) << score;
            // Its "Total duration" line is the reader's cursor at the end, as the reader's.
            EXPECT_EQ(session.out, reader.out) << score;
            ASSERT_EQ(right.size(), rightNotes.size()) << score;
            ASSERT_EQ(left.size(), leftNotes.size()) << score;
            // The planner has put the session's slots in finger order; compare what each tick
            // holds, as sets of (key, last tick).
            for (int hand = 0; hand < 2; ++hand) {
                const std::vector<NoteEvent>& planned = hand == 0 ? right : left;
                const std::vector<NoteEvent>& read = hand == 0 ? rightNotes : leftNotes;
                for (size_t t = 0; t < read.size(); ++t) {
                    std::multiset<std::pair<int32_t, int32_t>> a, b;
                    for (int s = 0; s < kSlotCount; ++s) {
                        if (planned[t].slot[s].key != kNoKey) {
                            a.insert({planned[t].slot[s].key, planned[t].slot[s].lastTick});
                        }
                        if (read[t].slot[s].key != kNoKey) {
                            b.insert({read[t].slot[s].key, read[t].slot[s].lastTick});
                        }
                    }
                    ASSERT_EQ(a, b) << score << " hand " << hand << " tick " << t;
                }
            }
            ++compared;
        }
    }
    EXPECT_EQ(compared, 10u);
}
