// Score files as text: plain MusicXML, compressed .mxl archives and UTF-16 scores all give the
// same UTF-8 text, which the reader then plays; broken, hostile and encrypted archives each
// give one clear line; every failing libzip call ends cleanly.

#include "prepare/container.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "score/musicxml_reader.h"
#include "score/score_model.h"

namespace {

std::string dataPath(const std::string& name) {
    return std::string(QUORVEL_SOURCE_DIR) + "/tests/data/container/" + name;
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

struct Read {
    bool ok;
    std::string xml;
    std::string error;
};

Read readPath(const std::string& path) {
    Read read{false, "stale", "stale"};
    read.ok = readScoreText(path, &read.xml, &read.error);
    return read;
}

Read readBytes(const std::string& bytes) {
    Read read{false, "stale", "stale"};
    read.ok = readScoreTextFromMemory(bytes, &read.xml, &read.error);
    return read;
}

}  // namespace

TEST(Container, EveryFormOfTheScoreGivesTheSameTextAndPlays) {
    const std::string expected = fileBytes(dataPath("score.musicxml"));
    ASSERT_NE(expected.find("Crème légère"), std::string::npos);
    for (const char* name : {"score.musicxml", "score-utf16.musicxml", "good.mxl",
                             "nocontainer.mxl", "utf16.mxl", "utf16be.mxl"}) {
        SCOPED_TRACE(name);
        const Read read = readPath(dataPath(name));
        ASSERT_TRUE(read.ok) << read.error;
        EXPECT_EQ(read.error, "");
        EXPECT_EQ(read.xml, expected);  // UTF-16 declared "UTF-16"; now it says "UTF-8"
        const Read fromMemory = readBytes(fileBytes(dataPath(name)));
        ASSERT_TRUE(fromMemory.ok) << fromMemory.error;
        EXPECT_EQ(fromMemory.xml, expected);

        rightNotes.clear();
        leftNotes.clear();
        currentTick = -1;
        divisions = 0;
        testing::internal::CaptureStdout();
        const int32_t result = loadScoreFromBuffer(read.xml.data(), read.xml.size(), name);
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(result, 0);
        ASSERT_EQ(rightNotes.size(), 4u);
        EXPECT_EQ(rightNotes[0].slot[0].key, 39);
        EXPECT_EQ(rightNotes[3].slot[0].key, 43);
        EXPECT_EQ(leftNotes[2].slot[0].key, 27);
    }
}

TEST(Container, UnreadableArchivesAndTextsGiveOneClearLine) {
    const std::string bound = std::to_string(kMaxScoreTextBytes);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"missing-root.mxl",
         "the root file \"music/gone.musicxml\" named by "
         "META-INF/container.xml is not in the archive"},
        {"dotdot.mxl", "the root file \"../score.musicxml\" lies outside the archive"},
        {"absolute.mxl", "the root file \"/music/score.musicxml\" lies outside the archive"},
        {"encrypted.mxl",
         "the file \"META-INF/container.xml\" in the compressed score is encrypted"},
        {"truncated.mxl", "the compressed score is not a readable zip archive ("},
        {"random.mxl", "the file is named .mxl but is not a compressed score (zip archive)"},
        {"bomb-honest.mxl",
         "the file \"bomb.musicxml\" in the compressed score inflates to more than " + bound +
             " bytes"},
        {"bomb-lying.mxl",  // its header claims 1000 bytes; the inflated bytes are counted
         "the file \"bomb.musicxml\" in the compressed score inflates to more than " + bound +
             " bytes"},
        {"absent.mxl", "the file cannot be read (No such file or directory)"},
        {"", "the file cannot be read (Is a directory)"},
    };
    for (const auto& [name, message] : cases) {
        SCOPED_TRACE(name);
        const Read read = readPath(dataPath(name));
        EXPECT_FALSE(read.ok);
        EXPECT_EQ(read.xml, "");
        EXPECT_EQ(read.error.find('\n'), std::string::npos);
        EXPECT_EQ(read.error.compare(0, message.size(), message), 0) << read.error;
    }

    // Broken UTF-16: half a character at the end, a low surrogate alone.
    const Read odd = readBytes(std::string("\xFF\xFE<\0a\0/\0>\0\n", 11));
    EXPECT_FALSE(odd.ok);
    EXPECT_EQ(odd.error, "the score's UTF-16 text ends in half a character");
    const Read lone = readBytes(std::string("\xFE\xFF\0<\xDC\x00\0>", 8));
    EXPECT_FALSE(lone.ok);
    EXPECT_EQ(lone.error, "the score's UTF-16 text holds an invalid character at byte 4");
    EXPECT_EQ(lone.xml, "");
    // Without a name, bytes that are no archive are the text itself, for the parser to judge.
    const Read plain = readBytes("not a score");
    EXPECT_TRUE(plain.ok);
    EXPECT_EQ(plain.xml, "not a score");
}

// Each libzip call fails in turn until the read succeeds: every failure is one clean line.
TEST(Container, EveryFailingLibzipCallIsReportedCleanly) {
    const std::string expected = fileBytes(dataPath("score.musicxml"));
    for (const char* name : {"good.mxl", "nocontainer.mxl"}) {
        SCOPED_TRACE(name);
        const std::string bytes = fileBytes(dataPath(name));
        long n = 1;
        for (;; ++n) {
            ASSERT_LT(n, 1000);
            containerZipCallsMade = 0;
            containerFailZipCall = n;
            const Read read = readBytes(bytes);
            containerFailZipCall = 0;
            if (read.ok) {
                EXPECT_EQ(read.xml, expected);
                break;
            }
            EXPECT_EQ(read.xml, "");
            EXPECT_EQ(read.error.find('\n'), std::string::npos);
            EXPECT_NE(read.error.find("(Internal error)"), std::string::npos) << read.error;
        }
        EXPECT_GE(n, 6);  // open (two calls), locate, stat, open entry, read ...
    }
}
