#include "app/commands.h"

#include <gtest/gtest.h>

#include <string>

#include "animation/playback_fixture.h"
#include "app/clock.h"
#include "support/expected_help.h"

using namespace playback_test;

namespace {

class CommandsTest : public PlaybackTest {
protected:
    // Type one key and return what it printed.
    std::string type(unsigned char key) {
        testing::internal::CaptureStdout();
        onKeyboard(key, 10, 20);
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(CommandsTest, HelpPrintsTheThirteenLinesAndDoesNotRedraw) {
    const std::string expected = kExpectedHelp;
    EXPECT_EQ(type('h'), expected);
    EXPECT_EQ(log().redisplays, 0);
    EXPECT_TRUE(log().timers.empty());
}

TEST_F(CommandsTest, ScanLengthMovesInQuarterNotesAndNeverBelowOne) {
    ASSERT_EQ(divisions, 4);
    ASSERT_EQ(scanLength, 16);
    EXPECT_EQ(type('w'), "Scan Length : 5 quarter notes \n");
    EXPECT_EQ(scanLength, 20);
    EXPECT_EQ(type('s'), "Scan Length : 4 quarter notes \n");
    EXPECT_EQ(type('s'), "Scan Length : 3 quarter notes \n");
    EXPECT_EQ(type('s'), "Scan Length : 2 quarter notes \n");
    EXPECT_EQ(type('s'), "Scan Length : 1 quarter notes \n");
    EXPECT_EQ(scanLength, 4);
    EXPECT_EQ(type('s'), "Scan Length : 1 quarter notes \n");
    EXPECT_EQ(scanLength, 4);
    EXPECT_EQ(log().redisplays, 6);

    // A scan length that somehow fell below a quarter note is not shortened further.
    scanLength = 3;
    EXPECT_EQ(type('s'), "Scan Length : 0 quarter notes \n");
    EXPECT_EQ(scanLength, 3);

    // Without a tick length the commands print nothing and leave the scan length alone.
    divisions = 0;
    scanLength = 16;
    EXPECT_EQ(type('w'), "");
    EXPECT_EQ(type('s'), "");
    EXPECT_EQ(scanLength, 16);
    EXPECT_EQ(log().redisplays, 9);
}

TEST_F(CommandsTest, TempoStopsAtZeroAndGrowsWithoutLimit) {
    ASSERT_EQ(timerInterval, 1);
    type('+');
    EXPECT_EQ(timerInterval, 0);
    type('+');
    EXPECT_EQ(timerInterval, 0);
    for (int i = 0; i < 5000; ++i) {
        onKeyboard('-', 0, 0);
    }
    EXPECT_EQ(timerInterval, 5000);
    EXPECT_EQ(log().redisplays, 5002);
    EXPECT_TRUE(log().timers.empty());
}

TEST_F(CommandsTest, OtherKeysOnlyRedraw) {
    setScore({event({note(39)}), kEmptyEvent}, {});
    rightHand.position.x = 2.0f;
    keyStates[39].angle = 5.0f;
    tickPhase = 3;
    for (unsigned char key : {'x', 'H', 'O', 'W', 'S', 'a', ' ', '0', '\r', '\x1b', '\xff'}) {
        SCOPED_TRACE(static_cast<int>(key));
        log().clear();
        EXPECT_EQ(type(key), "");
        EXPECT_EQ(log().redisplays, 1);
        EXPECT_TRUE(log().timers.empty());
        EXPECT_TRUE(log().exits.empty());
        EXPECT_EQ(playMode, Stopped);
        EXPECT_EQ(timerInterval, 1);
        EXPECT_EQ(scanLength, 16);
        EXPECT_EQ(tickPhase, 3);
        EXPECT_EQ(rightHand.position.x, 2.0f);
        EXPECT_EQ(keyStates[39].angle, 5.0f);
    }
}

TEST_F(CommandsTest, QuitEndsTheProcessWithStatusZero) {
    type('q');
    type('Q');
    EXPECT_EQ(log().exits, (std::vector<int>{0, 0}));
    EXPECT_EQ(log().redisplays, 0);
}

TEST_F(CommandsTest, PlayCommandsStartFromTickZero) {
    setEmptyScore(4);
    currentTick = 2;
    tickPhase = 5;
    timerInterval = 7;
    type('p');
    EXPECT_EQ(playMode, TimerDriven);
    EXPECT_EQ(currentTick, 0);
    EXPECT_EQ(tickPhase, 0);
    ASSERT_EQ(log().timers.size(), 1u);
    EXPECT_EQ(log().timers[0].delayMs, 7);
    EXPECT_EQ(log().timers[0].callback, &onTimer);
    EXPECT_EQ(log().timers[0].value, 5000);
    EXPECT_EQ(log().redisplays, 0);

    log().clear();
    currentTick = 3;
    tickPhase = 2;
    type('P');
    EXPECT_EQ(playMode, IdleDriven);
    EXPECT_EQ(currentTick, 0);
    EXPECT_EQ(tickPhase, 0);
    EXPECT_TRUE(log().timers.empty());
    EXPECT_EQ(log().redisplays, 0);
}

TEST_F(CommandsTest, PlayDoesNotResetHandsAndStopDoes) {
    setScore({event({note(39)}), kEmptyEvent}, {});
    rightHand.fingers[0].z = 0.6f;
    keyStates[39].angle = 10.0f;
    type('P');
    EXPECT_EQ(rightHand.fingers[0].z, 0.6f);
    EXPECT_EQ(keyStates[39].angle, 10.0f);

    currentTick = 1;
    type('o');
    EXPECT_EQ(playMode, Stopped);
    EXPECT_EQ(currentTick, 0);
    EXPECT_EQ(rightHand.fingers[0].z, 0.3f);
    EXPECT_EQ(keyStates[39].angle, 0.0f);
    EXPECT_EQ(log().redisplays, 1);
}

TEST_F(CommandsTest, PlayOnAScoreWithoutTicksEndsAtOnce) {
    setEmptyScore(0);
    type('p');
    EXPECT_EQ(playMode, Stopped);
    EXPECT_TRUE(log().timers.empty());
    type('P');
    EXPECT_EQ(playMode, Stopped);
    EXPECT_EQ(currentTick, 0);
    EXPECT_EQ(tickPhase, 0);
    // Nothing steps afterwards either.
    onIdle();
    EXPECT_EQ(currentTick, 0);
    EXPECT_EQ(log().redisplays, 0);
}

}  // namespace
