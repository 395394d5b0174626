// A prepared score's strict document is not written at start-up; asked for afterwards, it is
// the document the preparation writes of the score with the options of the session's mode
// (ornaments played out in the performance modes, repeats as asked), and there is none for a
// score read as it is.

#include <gtest/gtest.h>

#include <string>

#include "app/session.h"
#include "prepare/prepare.h"
#include "score/score_support.h"

namespace {

std::string preparedDocument(const std::string& path, bool ornaments, bool repeats) {
    PrepareOptions options;
    options.ornaments = ornaments;
    options.repeats = repeats;
    PrepareResult result;
    EXPECT_TRUE(prepareScore(path, options, &result)) << path << ": " << result.error;
    return result.xml;
}

TEST(SessionDocument, WrittenWhenAskedWithTheModesOptions) {
    for (const std::string score : {"data/ornaments/ornate.musicxml", "data/real/ties.mxl"}) {
        std::string documents[2];
        for (const RunMode mode : {RunMode::Classic, RunMode::Export}) {
            for (const bool repeats : {true, false}) {
                ProgramOptions options;
                options.mode = mode;
                options.longOptions = true;
                options.prepare = true;
                options.repeats = repeats;
                options.score = score;
                int started = -1;
                capture([&] { started = startUpSession(options); });
                ASSERT_EQ(started, 0) << score;
                const bool performance = mode != RunMode::Classic;
                const std::string expected = preparedDocument(score, performance, repeats);
                ASSERT_FALSE(expected.empty()) << score;
                EXPECT_EQ(sessionDocument.size(), expected.size()) << score;
                EXPECT_TRUE(std::string(sessionDocument) == expected) << score;
                if (repeats) {
                    documents[performance ? 1 : 0] = expected;
                }
            }
        }
        if (score.find("ornate") != std::string::npos) {
            // The ornaments are played out only in the performance's document.
            EXPECT_NE(documents[0], documents[1]) << score;
        }
    }
    // A score read as it is has no prepared document.
    ProgramOptions asRead;
    asRead.mode = RunMode::Export;
    asRead.longOptions = true;
    asRead.score = "../debug/OrlundePianoSonata.xml";
    int started = -1;
    capture([&] { started = startUpSession(asRead); });
    ASSERT_EQ(started, 0);
    EXPECT_TRUE(sessionDocument.empty());
}

}  // namespace
