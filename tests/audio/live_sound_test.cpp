// Opening the live player: every failing call is reported in one line and leaves nothing open;
// without a usable driver the reason names the drivers tried.

#include "audio/live_sound.h"

#include <gtest/gtest.h>

#include "audio/synth.h"

TEST(LiveSound, EveryFailingCallWhileOpeningIsReportedCleanly) {
    LiveSoundOptions options;
    options.soundfont = defaultSoundfontPath();
    ASSERT_FALSE(options.soundfont.empty()) << "no General MIDI SoundFont is installed";
    options.drivers = {"file"};  // renders in real time into /dev/null: no sound card needed
    long failures = 0;
    for (long n = 1;; ++n) {
        ASSERT_LT(n, 100);
        audioCallsMade = 0;
        audioFailCallNumber = n;
        std::string error;
        bool ok = openLiveSound(options, &error);
        audioFailCallNumber = 0;
        if (ok) {
            EXPECT_TRUE(liveSoundOpen());
            EXPECT_EQ(liveSoundDriver(), "file");
            break;
        }
        ++failures;
        EXPECT_FALSE(liveSoundOpen());
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    EXPECT_GE(failures, 9);  // the synthesiser's five, sequencer, two clients, driver
    liveSoundSchedule(39, true, liveSoundWallNow());
    liveSoundSchedule(39, false, liveSoundWallNow() + 0.01);
    liveSoundSilence();
    closeLiveSound();
    EXPECT_FALSE(liveSoundOpen());
    EXPECT_EQ(liveSoundDriver(), "");
}

TEST(LiveSound, NoUsableDriverNamesTheDriversTried) {
    LiveSoundOptions options;
    options.soundfont = defaultSoundfontPath();
    ASSERT_FALSE(options.soundfont.empty()) << "no General MIDI SoundFont is installed";
    options.drivers = {"no-such-driver", "another-one"};
    std::string error;
    EXPECT_FALSE(openLiveSound(options, &error));
    EXPECT_EQ(error, "no audio device (tried no-such-driver, another-one)");
    EXPECT_FALSE(liveSoundOpen());
    options.soundfont = "/nonexistent.sf2";
    EXPECT_FALSE(openLiveSound(options, &error));
    EXPECT_NE(error.find("/nonexistent.sf2"), std::string::npos) << error;
    // Scheduling while closed does nothing (and must not crash).
    liveSoundSchedule(39, true, 0.0);
    liveSoundSilence();
}
