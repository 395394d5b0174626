// Notes held as a pianist holds them: ties of one key in two staves or voices at once, chord
// notes that outlast the note they stand on, a held key struck again by another voice, and ties
// whose written durations were rounded by the exporter. Each small score is prepared, loaded
// through the strict reader and compared with the notes written out by hand.

#include <gtest/gtest.h>

#include "prepare/prepare_support.h"

namespace {

constexpr int R = 0;  // right hand
constexpr int L = 1;  // left hand

PrepareResult prepareHeld(const std::string& name) {
    PrepareResult result;
    const bool ok = prepareScore("data/prepare/" + name, {}, &result);
    EXPECT_TRUE(ok) << name << ": " << result.error;
    return result;
}

TEST(PrepareHeld, OneKeyTiedInBothStavesOrTwoVoicesAtOnce) {
    // 2/4 in quarters. Measures 1-2: A4 tied over the barline in each staff. Measures 3-4: two
    // voices of the right staff tie A4, one into a quarter, the other into a half.
    const PrepareResult r = prepareHeld("tie_same_key_twice.xml");
    expectMusic(r, 1,
                {{"A4", 1, 2, R},
                 {"A4", 1, 2, L},
                 {"A4", 5, 3, R},  // the longer continuation: struck once, held to the end
                 {"C3", 4, 2, L},
                 {"C3", 6, 2, L}});
    EXPECT_EQ(changeLine(r, "tied"), "tied notes merged into held notes: 4 (measures 2, 4)");
}

TEST(PrepareHeld, AChordNoteLongerThanItsChordDoesNotLengthenTheMeasure) {
    // 2/4 in eighths: a dotted quarter C4, then an eighth E4 with G4 a quarter long stacked on
    // it, sounding an eighth past the barline. Measure 2 still starts on beat 1.
    expectMusic(prepareHeld("chord_note_past_barline.xml"), 2,
                {{"C4", 0, 3, R},
                 {"E4", 3, 1, R},
                 {"G4", 3, 2, R},
                 {"C3", 0, 4, L},
                 {"C5", 4, 4, R},
                 {"C3", 4, 4, L}});
}

TEST(PrepareHeld, AHeldKeyStruckAgainByAnotherVoiceSoundsOnToTheEndOfTheHeldNote) {
    // 3/8 in eighths: F3 held a dotted quarter in one voice, struck on the second eighth by
    // another: struck again there and held to the barline, not let go after an eighth.
    const PrepareResult r = prepareHeld("held_key_struck_again.xml");
    expectMusic(
        r, 2,
        {{"C5", 0, 3, R}, {"F3", 0, 1, L}, {"F3", 1, 2, L}, {"D5", 3, 3, R}, {"G3", 3, 3, L}});
    EXPECT_EQ(changeLine(r, "a key struck again"),
              "a key struck again while it sounds in the same hand is let go first: 1 "
              "(measure 1)");
}

TEST(PrepareHeld, ATieSurvivesTupletDurationsRoundedByTheExporter) {
    // 256 a quarter, triplets written 85 + 85 + 86 and 170 + 171 + 170 as exporters round them:
    // the left hand's tied chord ends a tick before the barline, and is held over it all the same.
    expectMusic(prepareHeld("tie_rounded_tuplets.xml"), 256,
                {{"C5", 0, 256, R},
                 {"D5", 256, 85, R},
                 {"E5", 341, 85, R},
                 {"F5", 426, 86, R},
                 {"C5", 512, 512, R},
                 {"G2", 0, 170, L},
                 {"B2", 170, 171, L},
                 {"C3", 341, 427, L},
                 {"E3", 341, 427, L}});
}

}  // namespace
