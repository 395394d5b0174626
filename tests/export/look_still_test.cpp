// Stills of the new look of a generated score, measured from their pixels: the keyboard across
// the picture's width, keys held by the two hands lit in two different hues over their own keys
// (white and black keys alike, from every camera), a coming note's bar over its key's column a
// second before it sounds, no key lit while none is held, and a picture drawn the same
// whatever pictures (other cameras, sizes, moments) were drawn before it in the process.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "export/export.h"
#include "export/png_file.h"
#include "export_fixture.h"
#include "geometry/key_layout.h"
#include "look/look_frame.h"
#include "look/look_mesh.h"
#include "score/score_model.h"

using namespace export_test;

namespace {
// Keys of the generated score (A0 = 0).
constexpr int kC5 = 51, kC3 = 27, kFSharp5 = 57, kBFlat2 = 25, kE5 = 55;

// At 60 quarter notes a minute, in 4/4, one quarter a second:
//   measure 1: right hand C5, left hand C3, both held the whole measure (quarters 0-4)
//   measure 2: two beats of rest, then right hand F#5 and left hand Bb2 together (quarters 6-8)
//   measure 3: nothing
//   measure 4: right hand E5 alone (quarters 12-16)
std::string twoHandsScore() {
    std::ostringstream xml;
    auto note = [&](const char* step, int alter, int octave, int duration, int staff) {
        xml << "<note><pitch><step>" << step << "</step>";
        if (alter != 0) {
            xml << "<alter>" << alter << "</alter>";
        }
        xml << "<octave>" << octave << "</octave></pitch><duration>" << duration
            << "</duration><staff>" << staff << "</staff></note>";
    };
    auto rest = [&](int duration, int staff) {
        xml << "<note><rest/><duration>" << duration << "</duration><staff>" << staff
            << "</staff></note>";
    };
    xml << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<score-partwise version=\"3.1\">"
           "<work><work-title>Two Hands</work-title></work>"
           "<identification><creator type=\"composer\">A. Tester</creator></identification>"
           "<part-list><score-part id=\"P1\"><part-name>Piano</part-name>"
           "<score-instrument id=\"P1-I1\"><instrument-name>Piano</instrument-name>"
           "</score-instrument></score-part>"
           "</part-list><part id=\"P1\">";
    for (int m = 1; m <= 4; ++m) {
        xml << "<measure number=\"" << m << "\">";
        if (m == 1) {
            xml << "<attributes><divisions>1</divisions><time><beats>4</beats>"
                   "<beat-type>4</beat-type></time><staves>2</staves>"
                   "<clef number=\"1\"><sign>G</sign><line>2</line></clef>"
                   "<clef number=\"2\"><sign>F</sign><line>4</line></clef></attributes>"
                   "<direction><direction-type><words/></direction-type>"
                   "<sound tempo=\"60\"/></direction>";
        }
        switch (m) {
            case 1:
                note("C", 0, 5, 4, 1);
                xml << "<backup><duration>4</duration></backup>";
                note("C", 0, 3, 4, 2);
                break;
            case 2:
                rest(2, 1);
                note("F", 1, 5, 2, 1);
                xml << "<backup><duration>4</duration></backup>";
                rest(2, 2);
                note("B", -1, 2, 2, 2);
                break;
            case 3:
                rest(4, 1);
                xml << "<backup><duration>4</duration></backup>";
                rest(4, 2);
                break;
            default:
                note("E", 0, 5, 4, 1);
                xml << "<backup><duration>4</duration></backup>";
                rest(4, 2);
        }
        xml << "</measure>";
    }
    xml << "</part></score-partwise>\n";
    return xml.str();
}

struct Still {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    LookPicture picture;  // the camera, lane and frame the still was drawn with

    const uint8_t* at(double column, double row) const {
        const int x = std::clamp(static_cast<int>(column), 0, width - 1);
        const int y = std::clamp(static_cast<int>(row), 0, height - 1);
        return rgb.data() + (static_cast<size_t>(y) * width + x) * 3;
    }
};

// Hue in degrees and saturation of a pixel.
void hueOf(const uint8_t* p, double* hue, double* saturation) {
    const double r = p[0] / 255.0, g = p[1] / 255.0, b = p[2] / 255.0;
    const double high = std::max({r, g, b});
    const double low = std::min({r, g, b});
    *saturation = high > 0.0 ? (high - low) / high : 0.0;
    double h = 0.0;
    if (high - low > 1e-9) {
        if (high == r) {
            h = 60.0 * std::fmod((g - b) / (high - low), 6.0);
        } else if (high == g) {
            h = 60.0 * ((b - r) / (high - low) + 2.0);
        } else {
            h = 60.0 * ((r - g) / (high - low) + 4.0);
        }
    }
    *hue = h < 0.0 ? h + 360.0 : h;
}

double hueOf(LookColour c) {
    const uint8_t p[3] = {static_cast<uint8_t>(c.r * 255), static_cast<uint8_t>(c.g * 255),
                          static_cast<uint8_t>(c.b * 255)};
    double hue = 0.0;
    double saturation = 0.0;
    hueOf(p, &hue, &saturation);
    return hue;
}

double hueDistance(double a, double b) {
    const double d = std::fabs(a - b);
    return std::min(d, 360.0 - d);
}

// Loads and plans the score afresh: the reader appends to the grids, so they are emptied first.
bool loadAfresh(const std::string& document) {
    rightNotes.clear();
    leftNotes.clear();
    return loadAndPlan(document);
}

// Which hand's colour a pixel shows: 0 right, 1 left, -1 neither (unsaturated or another hue).
int handOfPixel(const uint8_t* p, const LookPalette& palette) {
    double hue = 0.0;
    double saturation = 0.0;
    hueOf(p, &hue, &saturation);
    if (saturation < 0.5 || std::max({p[0], p[1], p[2]}) < 60) {
        return -1;
    }
    for (int hand = 0; hand < 2; ++hand) {
        if (hueDistance(hue, hueOf(palette.hand[hand])) < 20.0) {
            return hand;
        }
    }
    return -1;
}

class LookStills : public testing::Test {
protected:
    static void SetUpTestSuite() {
        document_ = twoHandsScore();
        folder_ = makeFolder();
    }
    static void TearDownTestSuite() {
        removeFolder(folder_);
        rightNotes.clear();
        leftNotes.clear();
    }

    // The still at `quarters`, and the picture the drawing was made of (the same pure code).
    Still still(double quarters, int width, int height, LookView view,
                const LookPalette& palette = LookPalette()) {
        EXPECT_TRUE(loadAfresh(document_));
        ExportRequest request;
        request.outputPath = folder_ + "/still.png";
        request.width = width;
        request.height = height;
        request.newLook = true;
        request.lookView = view;
        request.palette = palette;
        std::ostringstream at;
        at << quarters;
        request.at = at.str();
        Still s;
        EXPECT_EQ(exportStill(document_, request), 0);
        std::string error;
        EXPECT_TRUE(readPng(request.outputPath, &s.width, &s.height, &s.rgb, &error)) << error;
        // The timeline as the exporter builds it, to compute the same picture.
        EXPECT_TRUE(loadAfresh(document_));
        ScoreTiming timing;
        EXPECT_TRUE(readScoreTiming(document_.data(), document_.size(), &timing, &error));
        TimelineOptions options;
        options.leadIn = kExportLeadIn;
        options.leadOut = kExportLeadOut;
        const Timeline timeline = buildTimeline(timing, options);
        const LookPerformance performance = lookPerformanceOf(timeline, document_);
        s.picture = lookPictureAt(performance, view, width, height,
                                  timeOfTick(timeline, quarters * timing.divisions));
        return s;
    }

    // The hand whose colour key `key`'s top shows, sampled along its length where no hand or
    // other key covers it; -1 when no sample shows a hand's colour.
    static int litHand(const Still& s, int key, const LookPalette& palette) {
        const bool black = isBlackKey(key);
        for (int i = 0; i <= 12; ++i) {
            const float z = -0.8f + (black ? 0.95f : 1.55f) * static_cast<float>(i) / 12.0f;
            double column = 0.0;
            double row = 0.0;
            const glm::vec3 top(KeyLayout[key].x, black ? 0.276f : 0.151f, z);
            if (projectLook(s.picture.camera, top, &column, &row)) {
                const int hand = handOfPixel(s.at(column, row), palette);
                if (hand >= 0) {
                    return hand;
                }
            }
        }
        return -1;
    }

    static std::string document_;
    static std::string folder_;
};
std::string LookStills::document_;
std::string LookStills::folder_;

}  // namespace

TEST_F(LookStills, TheKeyboardSpansTheWidthInThePlayersViewAtEverySize) {
    const int sizes[][2] = {{1280, 720}, {1080, 1920}, {640, 480}, {1920, 1080}};
    for (const auto& size : sizes) {
        const Still s = still(9, size[0], size[1], LookView::Player);
        // Along the white keys' front half: the first and last light, unsaturated pixels.
        double unused = 0.0;
        double row = 0.0;
        ASSERT_TRUE(projectLook(s.picture.camera, {0.0f, 0.151f, 0.6f}, &unused, &row));
        int left = s.width;
        int right = -1;
        for (int x = 0; x < s.width; ++x) {
            const uint8_t* p = s.at(x, row);
            if (p[0] > 170 && p[1] > 170 && p[2] > 170) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
        EXPECT_GE(right - left + 1, 0.9 * s.width) << size[0] << "x" << size[1];
        // The lane takes the space above: the keys' back edge is in the lower part.
        EXPECT_GT(s.picture.lane.bottom, 0.6 * s.height) << size[0] << "x" << size[1];
    }
}

TEST_F(LookStills, KeysHeldByBothHandsAreLitInTheirHandsHues) {
    const LookPalette palette;
    EXPECT_GT(hueDistance(hueOf(palette.hand[0]), hueOf(palette.hand[1])), 90.0);
    struct Moment {
        double quarters;
        int right, left;
    };
    // White keys (measure 1) and black keys (measure 2).
    for (const Moment& m : {Moment{1, kC5, kC3}, Moment{7, kFSharp5, kBFlat2}}) {
        for (LookView view :
             {LookView::Player, LookView::Above, LookView::Side, LookView::Follow}) {
            const Still s = still(m.quarters, 1280, 720, view);
            const std::string where = "at " + std::to_string(m.quarters) + ", view " +
                                      std::to_string(static_cast<int>(view));
            EXPECT_EQ(litHand(s, m.right, palette), 0) << where;
            EXPECT_EQ(litHand(s, m.left, palette), 1) << where;
            // Every other key stays unlit (its neighbours may be hidden behind a lit key).
            for (int key = 0; key < 88; ++key) {
                if (std::abs(key - m.right) > 1 && std::abs(key - m.left) > 1) {
                    EXPECT_EQ(litHand(s, key, palette), -1) << where << ", key " << key;
                }
            }
        }
    }
}

TEST_F(LookStills, OtherColoursAreUsedWhenAskedFor) {
    LookPalette palette;
    std::string error;
    ASSERT_TRUE(parsePalette("20C040,C020C0", &palette, &error)) << error;  // green, purple
    const Still s = still(1, 640, 360, LookView::Player, palette);
    EXPECT_EQ(litHand(s, kC5, palette), 0);
    EXPECT_EQ(litHand(s, kC3, palette), 1);
    EXPECT_EQ(litHand(s, kC5, LookPalette()), -1);  // not the default blue
}

TEST_F(LookStills, NoKeyIsLitWhileNoneIsHeldAndTheComingNoteIsAboveItsColumn) {
    const LookPalette palette;
    for (double quarters : {9.0, 11.0}) {
        const Still s = still(quarters, 1280, 720, LookView::Player);
        for (int key = 0; key < 88; ++key) {
            EXPECT_EQ(litHand(s, key, palette), -1) << "key " << key << " at " << quarters;
        }
    }
    // A second before E5 sounds (quarter 12), its bar stands in E5's column with its lower end
    // one second of lane above the keys; the columns beside it are empty there.
    const Still s = still(11, 1280, 720, LookView::Player);
    const LaneLayout& lane = s.picture.lane;
    const LaneColumn& column = lane.column[kE5];
    const double centre = (column.left + column.right) / 2.0;
    const double oneSecond = lane.bottom - lane.pixelsPerSecond;
    for (double ahead : {1.05, 1.5, 3.0}) {
        const double row = lane.bottom - ahead * lane.pixelsPerSecond;
        if (row < lane.top + 2) {
            continue;
        }
        EXPECT_EQ(handOfPixel(s.at(centre, row), palette), 0) << ahead << " s ahead";
    }
    // Below its lower end, nothing yet; beside it, nothing.
    EXPECT_EQ(handOfPixel(s.at(centre, oneSecond + 0.2 * lane.pixelsPerSecond), palette), -1);
    const double width = column.right - column.left;
    EXPECT_EQ(handOfPixel(s.at(column.left - 1.5 * width, oneSecond - 20), palette), -1);
    EXPECT_EQ(handOfPixel(s.at(column.right + 1.5 * width, oneSecond - 20), palette), -1);
    // The column is over E5 itself: between the projected sides of its key.
    double left = 0.0, right = 0.0, row = 0.0;
    ASSERT_TRUE(
        projectLook(s.picture.camera, {KeyLayout[kE5].x - 0.15f, 0.275f, -0.83f}, &left, &row));
    ASSERT_TRUE(
        projectLook(s.picture.camera, {KeyLayout[kE5].x + 0.15f, 0.275f, -0.83f}, &right, &row));
    EXPECT_GT(centre, left);
    EXPECT_LT(centre, right);
}

// Under a hand the keys are in its shadow: where a hand's joints fall along the light onto the
// top of a white key that is up and shows (no hand or lit key in front of it), the key is
// clearly darker than the same part of a white key far from both hands.
TEST_F(LookStills, TheHandsShadowTheKeysUnderThem) {
    int shaded = 0;
    for (LookView view : {LookView::Player, LookView::Above}) {
        for (double quarters : {1.0, 13.0}) {
            const Still s = still(quarters, 1280, 720, view);
            const LookFrame& frame = s.picture.frame;
            const glm::mat4 flatten = shadowProjection(kLookWhiteTop);
            auto brightness = [](const uint8_t* p) { return p[0] + p[1] + p[2]; };
            auto grey = [](const uint8_t* p) {
                return std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) < 24;
            };
            // The white key up whose middle is nearest x, or -1.
            auto whiteKeyAt = [&](float x) {
                for (int key = 0; key < 88; ++key) {
                    if (!isBlackKey(key) && std::fabs(KeyLayout[key].x - x) < 0.09f &&
                        frame.keys[key].hand < 0) {
                        return key;
                    }
                }
                return -1;
            };
            float handLeft = 1e9f;
            float handRight = -1e9f;
            for (const HandPose& pose : s.picture.hands) {
                for (const FingerPose& finger : pose.fingers) {
                    for (const glm::vec3& joint : finger.joint) {
                        handLeft = std::min(handLeft, joint.x);
                        handRight = std::max(handRight, joint.x);
                    }
                }
            }
            for (const HandPose& pose : s.picture.hands) {
                for (const FingerPose& finger : pose.fingers) {
                    for (const glm::vec3& joint : finger.joint) {
                        const glm::vec3 onKeys(flatten * glm::vec4(joint, 1.0f));
                        // In front of the black keys, on a white key's middle.
                        if (onKeys.z < 0.3f || onKeys.z > 0.75f || whiteKeyAt(onKeys.x) < 0) {
                            continue;
                        }
                        double column = 0.0;
                        double row = 0.0;
                        ASSERT_TRUE(projectLook(s.picture.camera, onKeys, &column, &row));
                        const uint8_t* under = s.at(column, row);
                        if (!grey(under) || brightness(under) < 120) {
                            continue;  // the hand or a dark gap is in front of it
                        }
                        // The same place on a white key well clear of both hands.
                        const float clear = handLeft > -6.0f ? -7.0f : 7.0f;
                        ASSERT_TRUE(handRight < clear - 2.0f || handLeft > clear + 2.0f);
                        int far = -1;
                        for (int key = 0; key < 88; ++key) {
                            if (!isBlackKey(key) && frame.keys[key].hand < 0 &&
                                (far < 0 || std::fabs(KeyLayout[key].x - clear) <
                                                std::fabs(KeyLayout[far].x - clear))) {
                                far = key;
                            }
                        }
                        ASSERT_GE(far, 0);
                        ASSERT_TRUE(projectLook(s.picture.camera,
                                                {KeyLayout[far].x, kLookWhiteTop, onKeys.z},
                                                &column, &row));
                        const uint8_t* open = s.at(column, row);
                        EXPECT_LT(brightness(under), 0.8 * brightness(open))
                            << "view " << static_cast<int>(view) << " at " << quarters
                            << ": the key under a joint at x " << onKeys.x << " is not in shade";
                        ++shaded;
                    }
                }
            }
        }
    }
    EXPECT_GE(shaded, 6);  // enough shaded places were seen to mean something
}

TEST_F(LookStills, APictureIsTheSameWhateverWasDrawnBeforeIt) {
    // The smoothing strip's target is kept from picture to picture while it is tall enough, and
    // remade when it is too small or too tall: a picture drawn after strips of other heights
    // (other cameras and moments) must come out as it did when drawn first.
    const Still first = still(2.0, 1280, 720, LookView::Player);
    const struct {
        double quarters;
        int height;
        LookView view;
    } before[] = {{2.0, 720, LookView::Follow}, {3.0, 720, LookView::Player},
                  {2.0, 720, LookView::Side},   {2.0, 800, LookView::Player},
                  {2.0, 960, LookView::Player}, {2.0, 640, LookView::Player},
                  {2.0, 720, LookView::Above},  {5.0, 720, LookView::Follow}};
    for (const auto& other : before) {
        const Still between = still(other.quarters, 1280, other.height, other.view);
        const Still again = still(2.0, 1280, 720, LookView::Player);
        ASSERT_EQ(again.rgb.size(), first.rgb.size());
        long differing = 0;
        for (size_t i = 0; i < first.rgb.size(); i += 3) {
            differing += first.rgb[i] != again.rgb[i] || first.rgb[i + 1] != again.rgb[i + 1] ||
                                 first.rgb[i + 2] != again.rgb[i + 2]
                             ? 1
                             : 0;
        }
        EXPECT_EQ(differing, 0) << "after quarter " << other.quarters << " at 1280x" << other.height
                                << " of view " << static_cast<int>(other.view);
        // The picture between really was another one.
        EXPECT_NE(between.rgb, first.rgb);
    }
}
