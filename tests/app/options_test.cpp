#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
// Runs the parser over words, as a command line after the program's name.
struct Parsed {
    ParseOutcome outcome;
    ProgramOptions options;
};

Parsed parse(std::vector<std::string> words) {
    words.insert(words.begin(), "quorvel");
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    Parsed parsed{ParseOutcome::Exit1, {}};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    parsed.outcome =
        parseProgramOptions(static_cast<int>(words.size()), argv.data(), &parsed.options);
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    return parsed;
}

bool longOption(std::vector<std::string> words) {
    words.insert(words.begin(), "quorvel");
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    return hasLongOption(static_cast<int>(argv.size()), argv.data());
}
}  // namespace

// The classic command line (a score and words the classic program ignores) never reaches the new
// parser; a known long option anywhere does.
TEST(Options, OnlyKnownLongOptionsLeaveTheClassicCommandLine) {
    EXPECT_FALSE(longOption({}));
    EXPECT_FALSE(longOption({"score.xml"}));
    EXPECT_FALSE(longOption({"score.xml", "--verbose", "-p", "extra"}));
    EXPECT_FALSE(longOption({"--prepared", "--speedy"}));
    EXPECT_TRUE(longOption({"--prepare", "score.xml"}));
    EXPECT_TRUE(longOption({"score.xml", "--play"}));
    EXPECT_TRUE(longOption({"--speed=2", "score.xml"}));
    EXPECT_TRUE(longOption({"--help"}));
}

TEST(Options, ModesAndTheirSettings) {
    Parsed play = parse({"--play", "s.mxl"});
    ASSERT_EQ(play.outcome, ParseOutcome::Run);
    EXPECT_EQ(play.options.mode, RunMode::Realtime);
    EXPECT_TRUE(play.options.prepare);
    EXPECT_TRUE(play.options.startPlaying);
    EXPECT_EQ(play.options.score, "s.mxl");

    Parsed parts =
        parse({"--prepare", "--part", "P2", "--part=3", "--fingering", "optimal", "s.xml"});
    ASSERT_EQ(parts.outcome, ParseOutcome::Run);
    EXPECT_EQ(parts.options.mode, RunMode::Classic);
    EXPECT_EQ(parts.options.parts, (std::vector<std::string>{"P2", "3"}));
    EXPECT_EQ(parts.options.fingering, FingeringChoice::Optimal);

    Parsed video = parse({"--export", "o.mp4", "--size", "640x360", "--fps", "30", "--speed", "0.5",
                          "--from", "3", "--to", "9", "--camera", "above", "s.xml"});
    ASSERT_EQ(video.outcome, ParseOutcome::Run);
    EXPECT_EQ(video.options.mode, RunMode::Export);
    EXPECT_EQ(video.options.outputPath, "o.mp4");
    EXPECT_EQ(video.options.width, 640);
    EXPECT_EQ(video.options.height, 360);
    EXPECT_EQ(video.options.fps, 30);
    EXPECT_DOUBLE_EQ(video.options.speed, 0.5);
    EXPECT_EQ(video.options.fromMeasure, "3");
    EXPECT_EQ(video.options.toMeasure, "9");
    EXPECT_EQ(video.options.camera, "above");

    Parsed still = parse({"--still", "o.png", "--at", "m5", "s.xml"});
    ASSERT_EQ(still.outcome, ParseOutcome::Run);
    EXPECT_EQ(still.options.mode, RunMode::Still);
    EXPECT_EQ(still.options.at, "m5");

    EXPECT_EQ(parse({"--help"}).outcome, ParseOutcome::Exit0);
}

// Every malformed or contradictory command line is refused with status 1, never run.
TEST(Options, UsageErrorsAreRefused) {
    const std::vector<std::vector<std::string>> bad = {
        {"--speed", "5", "--realtime", "s.xml"},
        {"--speed", "0.2", "--realtime", "s.xml"},
        {"--speed", "fast", "--realtime", "s.xml"},
        {"--export", "o.mp4", "--size", "1280", "s.xml"},
        {"--export", "o.mp4", "--size", "8x8", "s.xml"},
        {"--export", "o.mp4", "--size", "1280x720x3", "s.xml"},
        {"--export", "o.mp4", "--fps", "0", "s.xml"},
        {"--export", "o.mp4", "--fps", "241", "s.xml"},
        {"--export", "o.mp4", "--camera", "ceiling", "s.xml"},
        {"--export", "o.mp4", "--still", "o.png", "--at", "1", "s.xml"},
        {"--export", "o.mp4", "--play", "s.xml"},
        {"--still", "o.png", "s.xml"},
        {"--realtime", "--at", "3", "s.xml"},
        {"--prepare", "--speed", "2", "s.xml"},
        {"--realtime", "--size", "640x360", "s.xml"},
        {"--fingering", "clever", "--prepare", "s.xml"},
        {"--part", "1", "--part", "2", "--part", "3", "s.xml"},
        {"--prepare", "a.xml", "b.xml"},
        {"--prepare", "--no-such-option", "s.xml"},
    };
    for (const auto& words : bad) {
        std::string line;
        for (const std::string& word : words) {
            line += word + " ";
        }
        EXPECT_EQ(parse(words).outcome, ParseOutcome::Exit1) << line;
    }
}
