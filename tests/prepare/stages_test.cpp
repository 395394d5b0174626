// The preparation's pipeline as its callers see it: without the strict document it builds the
// same notes and Piece, to the last bit of every second, on every real export and test score;
// the Piece's seconds are those of a plain walk of its tempo map, however many changes it has;
// and every file read whole is refused with the one message of the bounded reader.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/bounded_file.h"
#include "fingering/fingering_corpus.h"
#include "music/piece.h"
#include "prepare/container.h"
#include "prepare/prepare.h"

namespace {
std::vector<std::string> testScores() {
    std::vector<std::string> files;
    for (const char* folder : {"data/real", "data/prepare", "data/fingering", "data/ornaments"}) {
        if (!std::filesystem::is_directory(folder)) {
            continue;
        }
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            const std::string ext = entry.path().extension().string();
            if (ext == ".musicxml" || ext == ".mxl" || ext == ".xml") {
                files.push_back(entry.path().string());
            }
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

void expectSamePiece(const Piece& a, const Piece& b, const std::string& path) {
    ASSERT_EQ(a.notes.size(), b.notes.size()) << path;
    for (size_t i = 0; i < a.notes.size(); ++i) {
        const PieceNote& x = a.notes[i];
        const PieceNote& y = b.notes[i];
        EXPECT_TRUE(x.tick == y.tick && x.endTick == y.endTick && x.hand == y.hand &&
                    x.key == y.key && x.onset == y.onset && x.end == y.end &&
                    x.velocity == y.velocity && x.printedFinger == y.printedFinger &&
                    x.measure == y.measure)
            << path << ": note " << i;
    }
    EXPECT_EQ(a.measures.size(), b.measures.size()) << path;
    EXPECT_EQ(a.tempo.size(), b.tempo.size()) << path;
    EXPECT_EQ(a.pedal.size(), b.pedal.size()) << path;
    EXPECT_EQ(a.endTick, b.endTick) << path;
}
}  // namespace

TEST(PrepareStages, WithoutTheDocumentTheSameNotesAndPiece) {
    size_t compared = 0;
    for (const std::string& path : testScores()) {
        for (bool ornaments : {false, true}) {
            PrepareOptions options;
            options.ornaments = ornaments;
            PrepareResult full;
            if (!prepareScore(path, options, &full)) {
                continue;  // refusals are tested on their own
            }
            options.strictText = false;
            PrepareResult lean;
            ASSERT_TRUE(prepareScore(path, options, &lean)) << path << ": " << lean.error;
            ++compared;
            EXPECT_FALSE(full.xml.empty()) << path;
            EXPECT_TRUE(lean.xml.empty()) << path;
            EXPECT_EQ(lean.sourceXml, full.sourceXml) << path;
            EXPECT_EQ(lean.changes, full.changes) << path;
            ASSERT_EQ(lean.notes.size(), full.notes.size()) << path;
            for (size_t i = 0; i < lean.notes.size(); ++i) {
                const PreparedNote& x = lean.notes[i];
                const PreparedNote& y = full.notes[i];
                EXPECT_TRUE(x.sourceIndex == y.sourceIndex && x.tick == y.tick &&
                            x.length == y.length && x.hand == y.hand && x.key == y.key &&
                            x.printedFinger == y.printedFinger)
                    << path << ": note " << i;
            }
            expectSamePiece(lean.piece, full.piece, path);
        }
    }
    EXPECT_GE(compared, 20u);
}

TEST(PrepareStages, PieceSecondsAreThoseOfTheTempoMapWalk) {
    std::mt19937 random(18);
    for (int round = 0; round < 200; ++round) {
        Piece piece;
        piece.divisions = 1 + static_cast<int32_t>(random() % 960);
        const int changes = static_cast<int>(random() % 300);
        int32_t tick = 0;
        for (int c = 0; c < changes; ++c) {
            // Some changes share a tick; the first may come later than the start.
            tick += static_cast<int32_t>(random() % 3 == 0 ? 0 : random() % 5000);
            piece.tempo.push_back({tick, 20.0 + (random() % 4000) / 10.0});
        }
        if (round % 4 == 3 && changes > 2) {
            std::swap(piece.tempo[1], piece.tempo.back());  // a map out of order walks as written
        }
        for (int n = 0; n < 500; ++n) {
            PieceNote note;
            note.tick = static_cast<int32_t>(random() % (tick + 10000));
            note.endTick = note.tick + 1 + static_cast<int32_t>(random() % 3000);
            note.key = static_cast<int32_t>(random() % 88);
            note.hand = static_cast<int>(random() % 2);
            piece.notes.push_back(note);
        }
        settlePiece(&piece);
        for (const PieceNote& note : piece.notes) {
            ASSERT_EQ(note.onset, pieceSeconds(piece, note.tick)) << "round " << round;
            ASSERT_EQ(note.end, pieceSeconds(piece, note.endTick)) << "round " << round;
        }
    }
}

TEST(PrepareStages, EveryWholeFileReaderRefusesAsTheBoundedReaderSays) {
    const std::string folder = testing::TempDir() + "quorvel_bounded_read";
    std::filesystem::create_directories(folder);
    const std::string absent = folder + "/absent.musicxml";
    const std::string missing = unreadableFile(ENOENT);
    EXPECT_EQ(missing, "the file cannot be read (No such file or directory)");

    std::string bytes = "left over";
    errno = 0;
    EXPECT_FALSE(readBoundedFile(absent.c_str(), &bytes));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_TRUE(bytes.empty());
    std::string error;
    EXPECT_FALSE(readScoreBytes(absent, &bytes, &error));
    EXPECT_EQ(error, missing);
    EXPECT_FALSE(readScoreBytes(folder, &bytes, &error));
    EXPECT_EQ(error, unreadableFile(EISDIR));
    CorpusPiece piece;
    EXPECT_FALSE(readCorpusPiece(absent, &piece, &error));
    EXPECT_EQ(error, absent + ": " + missing);
    std::vector<SplitEntry> split;
    EXPECT_FALSE(readSplit(folder, &split, &error));
    EXPECT_EQ(error, folder + ": " + unreadableFile(EISDIR));

    // A real score, read whole both ways, is its bytes; an empty file reads as empty.
    const std::string score = "data/real/chords.musicxml";
    std::string text;
    ASSERT_TRUE(readBoundedFile(score.c_str(), &text));
    EXPECT_EQ(static_cast<uintmax_t>(text.size()), std::filesystem::file_size(score));
    char* data = nullptr;
    size_t size = 0;
    ASSERT_TRUE(readBoundedFile(score.c_str(), &data, &size));
    ASSERT_EQ(size, text.size());
    EXPECT_EQ(std::string(data, size), text);
    std::free(data);
    std::string xml;
    ASSERT_TRUE(readScoreText(score, &xml, &error));
    EXPECT_EQ(xml, text);
    const std::string empty = folder + "/empty.xml";
    std::fclose(std::fopen(empty.c_str(), "wb"));
    EXPECT_TRUE(readBoundedFile(empty.c_str(), &text));
    EXPECT_TRUE(text.empty());
    std::filesystem::remove_all(folder);
}
