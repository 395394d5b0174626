// The preparation reads a score file into memory of its own and parses it there: on every score
// file the tests hold (plain, compressed, UTF-16, refused ones) the text read that way is the
// text of the plain reading, byte for byte and refusal for refusal, and preparing from the file
// gives what preparing from that text gives: document, notes, piece and change lines. Only a
// caller that asks for the source text keeps it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "music/piece.h"
#include "prepare/container.h"
#include "prepare/prepare.h"

namespace {

std::vector<std::string> everyScoreFile() {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator("data")) {
        const std::string ext = entry.path().extension().string();
        if (entry.is_regular_file() && (ext == ".musicxml" || ext == ".mxl" || ext == ".xml")) {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

void expectSameResult(const PrepareResult& a, const PrepareResult& b, const std::string& what) {
    EXPECT_EQ(a.error, b.error) << what;
    EXPECT_EQ(a.xml, b.xml) << what;
    EXPECT_EQ(a.changes, b.changes) << what;
    ASSERT_EQ(a.notes.size(), b.notes.size()) << what;
    for (size_t i = 0; i < a.notes.size(); ++i) {
        const PreparedNote& x = a.notes[i];
        const PreparedNote& y = b.notes[i];
        EXPECT_TRUE(x.sourceIndex == y.sourceIndex && x.hand == y.hand && x.tick == y.tick &&
                    x.length == y.length && x.key == y.key && x.printedFinger == y.printedFinger)
            << what << ": note " << i;
    }
    ASSERT_EQ(a.piece.notes.size(), b.piece.notes.size()) << what;
    for (size_t i = 0; i < a.piece.notes.size(); ++i) {
        const PieceNote& x = a.piece.notes[i];
        const PieceNote& y = b.piece.notes[i];
        EXPECT_TRUE(x.tick == y.tick && x.endTick == y.endTick && x.hand == y.hand &&
                    x.key == y.key && x.onset == y.onset && x.end == y.end &&
                    x.velocity == y.velocity && x.printedFinger == y.printedFinger &&
                    x.measure == y.measure)
            << what << ": piece note " << i;
    }
    EXPECT_EQ(a.piece.measures.size(), b.piece.measures.size()) << what;
    EXPECT_EQ(a.piece.tempo.size(), b.piece.tempo.size()) << what;
    EXPECT_EQ(a.piece.pedal.size(), b.piece.pedal.size()) << what;
    EXPECT_EQ(a.piece.dynamics.size(), b.piece.dynamics.size()) << what;
    EXPECT_EQ(a.piece.endTick, b.piece.endTick) << what;
}

TEST(PrepareInPlace, FileAndTextReadingsAgreeOnEveryScore) {
    size_t prepared = 0;
    size_t refused = 0;
    for (const std::string& path : everyScoreFile()) {
        std::string text;
        std::string textError;
        const bool textRead = readScoreText(path, &text, &textError);
        ScoreText buffer;
        std::string bufferError;
        const bool bufferRead = readScoreText(path, &buffer, &bufferError);
        ASSERT_EQ(bufferRead, textRead) << path;
        EXPECT_EQ(bufferError, textError) << path;
        if (!textRead) {
            ++refused;
            PrepareResult result;
            EXPECT_FALSE(prepareScore(path, {}, &result)) << path;
            EXPECT_EQ(result.error, textError) << path;
            continue;
        }
        ASSERT_EQ(std::string(buffer.data(), buffer.size()), text) << path;
        for (bool repeats : {true, false}) {
            PrepareOptions options;
            options.repeats = repeats;
            PrepareResult fromFile;
            PrepareResult fromText;
            const bool fileOk = prepareScore(path, options, &fromFile);
            ASSERT_EQ(prepareScoreText(text, options, &fromText), fileOk) << path;
            expectSameResult(fromFile, fromText, path + (repeats ? "" : " (no repeats)"));
            EXPECT_TRUE(fromFile.sourceXml.empty()) << path << ": the text is kept unasked";
            prepared += fileOk ? 1 : 0;
            refused += fileOk ? 0 : 1;
        }
        PrepareOptions keeping;
        keeping.keepSource = true;
        PrepareResult kept;
        prepareScore(path, keeping, &kept);
        EXPECT_EQ(kept.sourceXml, text) << path << ": the kept text is not the file's";
    }
    // The real exports, the preparation's and the fingering corpus's scores, both ways.
    EXPECT_GE(prepared, 150u);
    EXPECT_GE(refused, 10u);
}

// Files that are refused before any parse: the same line from either reading, and nothing left
// behind in the result.
TEST(PrepareInPlace, RefusedFilesGiveTheOneLine) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("quorvel_in_place_" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string empty = (folder / "empty.xml").string();
    const std::string fakeArchive = (folder / "score.MXL").string();
    const std::string missing = (folder / "missing.xml").string();
    std::ofstream(empty).close();
    std::ofstream(fakeArchive) << "<score-partwise/>";
    std::string error;
    for (const std::string& path : {empty, fakeArchive, missing, folder.string()}) {
        std::string text;
        std::string textError;
        const bool textRead = readScoreText(path, &text, &textError);
        ScoreText buffer;
        std::string bufferError;
        ASSERT_EQ(readScoreText(path, &buffer, &bufferError), textRead) << path;
        EXPECT_EQ(bufferError, textError) << path;
        PrepareResult result;
        PrepareOptions keeping;
        keeping.keepSource = true;
        EXPECT_FALSE(prepareScore(path, keeping, &result)) << path;
        EXPECT_FALSE(result.error.empty()) << path;
        EXPECT_EQ(result.error.find('\n'), std::string::npos) << path;
        EXPECT_TRUE(result.xml.empty() && result.notes.empty() && result.changes.empty()) << path;
        if (!textRead) {
            EXPECT_EQ(result.error, textError) << path;
        }
    }
    // A text cut short anywhere, and bytes that are no text at all: the parse of the file fails
    // at the byte the parse of the same text fails at.
    std::string score;
    ASSERT_TRUE(readScoreText("data/real/ties.mxl", &score, &error));
    std::string midi;
    ASSERT_TRUE(readScoreBytes("data/repeats/voltas.mid", &midi, &error));
    std::vector<std::string> texts = {midi, score.substr(0, 1), score.substr(0, score.size() - 1)};
    for (size_t cut = 7; cut < score.size(); cut = cut * 3 + 1) {
        texts.push_back(score.substr(0, cut));
    }
    const std::string cutPath = (folder / "cut.xml").string();
    size_t refusedCuts = 0;
    for (const std::string& text : texts) {
        std::ofstream(cutPath, std::ios::binary) << text;
        PrepareResult fromFile;
        PrepareResult fromText;
        const bool prepared = prepareScore(cutPath, {}, &fromFile);
        EXPECT_EQ(prepareScoreText(text, {}, &fromText), prepared) << "cut at " << text.size();
        EXPECT_EQ(fromFile.error, fromText.error) << "cut at " << text.size();
        refusedCuts += prepared ? 0 : 1;
    }
    EXPECT_GE(refusedCuts, texts.size() - 1) << "only the text without its last line break reads";
    std::filesystem::remove_all(folder);
}

}  // namespace
