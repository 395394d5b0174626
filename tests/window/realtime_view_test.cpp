// The real-time window's picture during the bundled sonata, drawn from the player's side: at
// every sampled moment the keys shown down are exactly the keys whose notes are sounding.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "app/realtime.h"
#include "geometry/player_view.h"
#include "render/view_gl.h"
#include "score/musicxml_reader.h"
#include "support/classic_load.h"
#include "window/window_fixture.h"

namespace {

// A pixel that only a key going down changes. A white key's front face drops below the
// keyboard's lower edge, into the empty background just under it; a black key's top, seen near
// its front end, sinks and takes the pressed key's colour.
bool keyPressPixel(int key, int* px, int* py) {
    const KeyLayoutEntry& entry = KeyLayout[key];
    if (entry.black == 1.0f) {
        return window_test::projectPoint(entry.x, 0.275, 0.15, px, py);
    }
    return window_test::projectPoint(entry.x, -0.21, 0.825, px, py);
}

bool handColoured(const unsigned char* rgb) {
    // The hands are cyan (no red at all, however dark the shading); keys are grey, or dark red.
    return rgb[1] > rgb[0] + 8 && rgb[2] > rgb[0] + 8;
}

bool samePixel(const unsigned char* a, const unsigned char* b) {
    return std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]) <= 6;
}

}  // namespace

TEST(RealtimeView, KeysShownDownAreTheSoundingNotes) {
    window_test::ensureWindow();
    window_test::SavedProgram saved;
    const std::string document = documentAt(QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.xml");
    ASSERT_EQ(loadAndPlanClassic(document), 0);
    std::string error;
    ASSERT_TRUE(prepareRealtime(ProgramOptions(), document, &error)) << error;
    const Timeline& timeline = realtime.timeline;
    setPlayerView(CameraView::Player,
                  static_cast<double>(window_test::kWidth) / window_test::kHeight);
    setViewProjection(window_test::kWidth, window_test::kHeight);

    int downChecked = 0;
    int upChecked = 0;
    for (int sample = 0; sample < 60; ++sample) {
        // Moments in the middle of notes of the first two minutes, and between them.
        const TimedNote& note = timeline.notes[(sample * 37) % timeline.notes.size()];
        double t = sample % 2 == 0 ? (note.onset + note.release) / 2 : note.onset - 0.002;
        PerformanceFrame frame;
        performanceAt(timeline, t, &frame);
        applyFrame(frame);
        window_test::drawFrameWithoutSwap();
        window_test::Picture shown = window_test::readPicture(GL_BACK);
        // The same moment with every key up: hands, fingers and camera unchanged.
        for (KeyState& state : keyStates) {
            state.angle = 0.0f;
        }
        window_test::drawFrameWithoutSwap();
        window_test::Picture allUp = window_test::readPicture(GL_BACK);

        for (int key = 0; key < 88; ++key) {
            bool sounding = false;
            for (const TimedNote& n : timeline.notes) {
                sounding = sounding || (n.key == key && n.onset < t && t < n.keyUp);
            }
            ASSERT_EQ(frame.keyAngle[key] > 0.0f, sounding) << "key " << key << " at " << t;
            int px = 0, py = 0;
            if (!keyPressPixel(key, &px, &py) || handColoured(shown.at(px, py)) ||
                handColoured(allUp.at(px, py))) {
                continue;  // out of the picture, or behind a hand
            }
            bool moved = !samePixel(shown.at(px, py), allUp.at(px, py));
            if (frame.keyAngle[key] >= 5.0f) {
                EXPECT_TRUE(moved) << "key " << key << " sounds at " << t << " but is shown up";
                ++downChecked;
            } else if (frame.keyAngle[key] == 0.0f) {
                EXPECT_FALSE(moved)
                    << "key " << key << " is silent at " << t << " but is shown down";
                ++upChecked;
            }
        }
    }
    EXPECT_GE(downChecked, 40);  // enough keys down were seen to mean something
    EXPECT_GE(upChecked, 1000);
    saved.restore();
    onReshape(window_test::kWidth, window_test::kHeight);  // the window's own projection again
}
