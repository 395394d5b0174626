// The new look's hands on the bundled score and on the real exports: every note's fingertip is
// on its key at its onset (the thumb's too), no joint bends past its limits or backwards, no
// finger goes through a key, the hands keep apart, and fingertips stay within the speed bound
// wherever the notes leave the time for the move.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <glm/gtc/matrix_transform.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/state.h"
#include "fingering/optimal_planner.h"
#include "fingering/optimal_printed.h"
#include "geometry/hand_contact.h"
#include "geometry/hand_pose.h"
#include "geometry/key_layout.h"
#include "look/hand_sight.h"
#include "look/look_frame.h"
#include "prepare/prepare.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"
#include "timeline/timeline.h"

namespace {
std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The performance of a strict-form document as the program's other modes plan it.
bool performanceOf(const std::string& document, LookPerformance* performance) {
    setStartValues();
    rightNotes.clear();
    leftNotes.clear();
    if (loadScoreFromBuffer(document.data(), document.size(), nullptr) != 0) {
        return false;
    }
    createKeyStates();
    std::vector<PrintedFinger> printed;
    std::string error;
    readPrintedFingers(document, &printed, &error);
    planHandsOptimal(printed);
    ScoreTiming timing;
    if (!readScoreTiming(document.data(), document.size(), &timing, &error)) {
        return false;
    }
    TimelineOptions options;
    options.leadIn = 1.0;
    const Timeline timeline = buildTimeline(timing, options);
    *performance = lookPerformanceOf(timeline, document);
    return true;
}

struct Material {
    std::string name;
    std::string document;
};

// Every piece: the bundled score, the real exports and the ornament pieces.
std::vector<Material> material() {
    std::vector<Material> all;
    all.push_back({"bundled sonata", slurp(QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.xml")});
    for (const char* name : {"chords", "clefchange", "divisions", "pickup", "scales", "ties",
                             "tuplets", "twoparts", "twovoices"}) {
        PrepareResult prepared;
        const std::string path =
            std::string(QUORVEL_SOURCE_DIR "/tests/data/real/") + name + ".musicxml";
        if (prepareScore(path, {}, &prepared)) {
            all.push_back({name, prepared.xml});
        } else {
            ADD_FAILURE() << name << ": " << prepared.error;
        }
    }
    // The ornament pieces as the performance plays them: grace notes, trills, tremolos, rolls
    // and glissandos are notes the hands must reach too.
    PrepareOptions ornaments;
    ornaments.ornaments = true;
    for (const char* name :
         {"graces.musicxml", "articulation.musicxml", "fermata.musicxml", "arpeggiate.musicxml",
          "trills.musicxml", "tremolo.musicxml", "glissando.musicxml", "ornate_export.mxl"}) {
        PrepareResult prepared;
        if (prepareScore(std::string(QUORVEL_SOURCE_DIR "/tests/data/ornaments/") + name, ornaments,
                         &prepared)) {
            all.push_back({name, prepared.xml});
        } else {
            ADD_FAILURE() << name << ": " << prepared.error;
        }
    }
    return all;
}

// Half the width of the part of a key a fingertip can stand on.
float keyHalfWidth(int key) {
    return isBlackKey(key) ? 0.075f : 0.15f;
}

// The key whose top is under point p (a black key where one stands), or -1.
int keyUnder(glm::vec3 p) {
    if (p.z < -0.825f || p.z > 0.825f) {
        return -1;
    }
    int best = -1;
    for (int key = 0; key < 88; ++key) {
        const bool black = isBlackKey(key);
        if (std::fabs(p.x - KeyLayout[key].x) > keyHalfWidth(key) || (black && p.z > 0.2f)) {
            continue;
        }
        if (best < 0 || black) {
            best = key;
        }
    }
    return best;
}
}  // namespace

TEST(LookHands, EveryFingertipIsOnItsKeyAtItsOnsetWithinItsJointLimits) {
    buildKeyLayout();
    for (const Material& m : material()) {
        LookPerformance performance;
        ASSERT_TRUE(performanceOf(m.document, &performance)) << m.name;
        ASSERT_FALSE(performance.notes.empty()) << m.name;
        int thumbs = 0;
        int missed = 0;
        for (const LookNote& note : performance.notes) {
            const HandPose pose = handPoseAt(performance.hands[note.hand], note.onset + 1e-6);
            const FingerPose& finger = pose.fingers[note.finger];
            const glm::vec3 tip = finger.joint[3];
            const glm::vec3 key = fingerKeyTarget(note.key);
            const bool over =
                std::fabs(tip.x - key.x) <= keyHalfWidth(note.key) &&
                std::fabs(tip.y - kTipRadius - (key.y - keyPressDrop(tip.z))) < 0.02f &&
                tip.z > -0.825f && tip.z < (isBlackKey(note.key) ? 0.2f : 0.825f);
            if (!over) {
                ++missed;
                ADD_FAILURE() << m.name << ": hand " << note.hand << " finger " << note.finger
                              << " misses key " << note.key << " at " << note.onset << " (tip "
                              << tip.x << ", " << tip.y << ", " << tip.z << "; key at " << key.x
                              << ")";
            }
            EXPECT_TRUE(finger.playing) << m.name;
            thumbs += note.finger == 0 ? 1 : 0;
            if (missed > 5) {
                break;
            }
        }
        // Every real piece uses the thumb; a three-note ornament exercise may well not.
        const bool exercise = m.name.find('.') != std::string::npos;
        if (!exercise) {
            EXPECT_GT(thumbs, 0) << m.name << ": the thumb plays somewhere";
        }
        // Joints over the whole performance, 30 times a second.
        for (double t = 0.0; t < performance.duration; t += 1.0 / 30.0) {
            for (int hand = 0; hand < 2; ++hand) {
                const HandPose pose = handPoseAt(performance.hands[hand], t);
                for (int f = 0; f < 5; ++f) {
                    const JointLimit* limits = f == 0 ? kThumbLimits : kFingerLimits;
                    for (int j = 0; j < kFingerJoints; ++j) {
                        const float a = pose.fingers[f].angle[j];
                        ASSERT_GE(a, limits[j].low - 1e-3f) << m.name << " at " << t;
                        ASSERT_LE(a, limits[j].high + 1e-3f) << m.name << " at " << t;
                    }
                    // Never bent backwards past straight beyond the knuckle.
                    ASSERT_GE(pose.fingers[f].angle[1], 0.0f);
                    ASSERT_GE(pose.fingers[f].angle[2], 0.0f);
                }
            }
        }
    }
}

TEST(LookHands, NoFingerGoesThroughAKeyAndTheHandsKeepApart) {
    buildKeyLayout();
    for (const Material& m : material()) {
        LookPerformance performance;
        ASSERT_TRUE(performanceOf(m.document, &performance)) << m.name;
        int through = 0;
        for (double t = 0.0; t < performance.duration && through < 5; t += 1.0 / 60.0) {
            HandPose poses[2] = {handPoseAt(performance.hands[0], t),
                                 handPoseAt(performance.hands[1], t)};
            for (const HandPose& pose : poses) {
                for (int f = 0; f < 5; ++f) {
                    const FingerPose& finger = pose.fingers[f];
                    // Along each bone, its underside stays above the key below it (a held key
                    // sinks, and its finger with it).
                    for (int bone = 0; bone < 3; ++bone) {
                        for (float s : {0.0f, 0.5f, 1.0f}) {
                            const glm::vec3 p = finger.joint[bone] +
                                                (finger.joint[bone + 1] - finger.joint[bone]) * s;
                            const int key = keyUnder(p);
                            if (key < 0) {
                                continue;
                            }
                            const float floor = keyTopHeight(key) - keyPressDrop(p.z) - 0.01f;
                            if (p.y - (bone == 2 && s == 1.0f ? kTipRadius : 0.0f) <
                                floor - 0.005f) {
                                ++through;
                                ADD_FAILURE()
                                    << m.name << " at " << t << ": finger " << f << " of hand "
                                    << pose.hand << " is inside key " << key << " (bone " << bone
                                    << ", " << p.y << " under " << floor << ")";
                            }
                        }
                    }
                }
            }
            // The right hand stays to the right of the left: its leftmost joint is right of the
            // left hand's rightmost by more than a finger's width.
            float rightLowest = 1e9f;
            float leftHighest = -1e9f;
            for (const FingerPose& f : poses[0].fingers) {
                for (const glm::vec3& j : f.joint) {
                    rightLowest = std::min(rightLowest, j.x);
                }
            }
            for (const FingerPose& f : poses[1].fingers) {
                for (const glm::vec3& j : f.joint) {
                    leftHighest = std::max(leftHighest, j.x);
                }
            }
            EXPECT_GT(rightLowest - leftHighest, 0.17f) << m.name << " at " << t;
            if (rightLowest - leftHighest <= 0.17f) {
                break;
            }
        }
    }
}

TEST(LookHands, FingertipsMoveNoFasterThanTheBoundWhereTheMusicLeavesTheTime) {
    buildKeyLayout();
    int checkedMoves = 0;
    double fastest = 0.0;
    for (const Material& m : material()) {
        LookPerformance performance;
        ASSERT_TRUE(performanceOf(m.document, &performance)) << m.name;
        for (int hand = 0; hand < 2; ++hand) {
            const HandMotion& motion = performance.hands[hand];
            for (size_t k = 0; k + 1 < motion.anchors.size(); ++k) {
                const HandMotion::Anchor& a = motion.anchors[k];
                const HandMotion::Anchor& b = motion.anchors[k + 1];
                const double distance = std::fabs(b.x - a.x) + std::fabs(b.depth - a.depth);
                const double needed = moveTime(distance);
                if (b.start - a.start < needed + kStrike || distance < 0.3) {
                    continue;  // the music leaves less time than the move needs, or no leap
                }
                ++checkedMoves;
                // Through the move, 480 times a second, every fingertip of the hand.
                const double step = 1.0 / 480.0;
                HandPose before = handPoseAt(motion, a.leave);
                for (double t = a.leave + step; t <= b.start; t += step) {
                    const HandPose now = handPoseAt(motion, t);
                    for (int f = 0; f < 5; ++f) {
                        const double speed =
                            glm::length(now.fingers[f].joint[3] - before.fingers[f].joint[3]) /
                            step;
                        fastest = std::max(fastest, speed);
                        ASSERT_LE(speed, kFastestTip * 1.02)
                            << m.name << ", hand " << hand << ", finger " << f << " at " << t
                            << " moving " << distance << " units in " << b.start - a.leave << " s";
                    }
                    before = now;
                }
            }
        }
    }
    EXPECT_GT(checkedMoves, 20);
    std::printf("leaps checked: %d, fastest fingertip %.2f m/s\n", checkedMoves,
                fastest * 74.6 / 1000.0);
}

TEST(LookHands, QuickFiguresMoveTheFingersNotThePalm) {
    // Notes that follow each other within a tenth of a second on other fingers and keys within
    // a fifth, either building up a chord (a roll: the first still held) or going back and forth
    // (a trill, a tremolo: the note after next is the first again), are played from one place
    // of the palm.
    buildKeyLayout();
    int figures = 0;
    for (const Material& m : material()) {
        LookPerformance performance;
        ASSERT_TRUE(performanceOf(m.document, &performance)) << m.name;
        for (int hand = 0; hand < 2; ++hand) {
            const std::vector<HandNote>& notes = performance.hands[hand].notes;
            for (size_t i = 0; i + 1 < notes.size(); ++i) {
                const HandNote& a = notes[i];
                const HandNote& b = notes[i + 1];
                if (b.onset - a.onset > 0.1 || b.onset - a.onset < 1e-6 || a.finger == b.finger ||
                    std::abs(a.key - b.key) > 7) {
                    continue;
                }
                const bool roll = a.keyUp > b.onset + 1e-6;
                const bool alternation = i + 2 < notes.size() && notes[i + 2].key == a.key &&
                                         notes[i + 2].finger == a.finger &&
                                         notes[i + 2].onset - b.onset <= 0.1;
                if (!roll && !alternation) {
                    continue;
                }
                ++figures;
                const float before = handPoseAt(performance.hands[hand], a.onset + 1e-6).palm.x;
                const float after = handPoseAt(performance.hands[hand], b.onset + 1e-6).palm.x;
                EXPECT_NEAR(before, after, 1.0f / 74.6f)
                    << m.name << ", hand " << hand << ": the palm moved between the notes at "
                    << a.onset << " and " << b.onset;
            }
        }
    }
    EXPECT_GT(figures, 10);
    std::printf("quick figures checked: %d\n", figures);
}

TEST(LookHands, FingersAtRestKeepApartAndTheContactMeasureIsExact) {
    // The closest points of two segments, against a fine search along both, over many random
    // pairs (crossing, parallel, touching at an end, one a point).
    uint32_t seed = 12345;
    auto random = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<float>(seed >> 8) / static_cast<float>(1u << 24) * 2.0f - 1.0f;
    };
    for (int i = 0; i < 400; ++i) {
        glm::vec3 p[4];
        for (glm::vec3& q : p) {
            q = glm::vec3(random(), random(), random());
        }
        if (i % 7 == 0) {
            p[3] = p[2] + (p[1] - p[0]) * 0.5f;  // parallel
        }
        if (i % 11 == 0) {
            p[1] = p[0];  // a point
        }
        float s = 0.0f;
        float t = 0.0f;
        const float distance = segmentDistance(p[0], p[1], p[2], p[3], &s, &t);
        float searched = 1e9f;
        for (int a = 0; a <= 200; ++a) {
            for (int b = 0; b <= 200; ++b) {
                searched = std::min(searched, glm::length(p[0] + (p[1] - p[0]) * (a / 200.0f) -
                                                          p[2] - (p[3] - p[2]) * (b / 200.0f)));
            }
        }
        ASSERT_LE(distance, searched + 1e-5f) << i;
        ASSERT_GE(distance, searched - 0.02f) << i;
        ASSERT_NEAR(glm::length(p[0] + (p[1] - p[0]) * s - p[2] - (p[3] - p[2]) * t), distance,
                    1e-5f);
    }
    // A hand waiting before its first note, every piece, both hands: the fingers and the thumb
    // do not go into each other by more than a millimetre.
    buildKeyLayout();
    for (const Material& m : material()) {
        LookPerformance performance;
        ASSERT_TRUE(performanceOf(m.document, &performance)) << m.name;
        for (int hand = 0; hand < 2; ++hand) {
            const FingerContact c = deepestFingerContact(handPoseAt(performance.hands[hand], 0.0));
            EXPECT_LE(c.overlap, 1.0f / 74.6f)
                << m.name << ", hand " << hand << ": fingers " << c.finger[0] << " and "
                << c.finger[1] << " at rest overlap by " << c.overlap * 74.6f << " mm";
        }
    }
}

namespace {
// What finger `finger` of a hand is doing at `t`: holding a key, coming down onto its next
// (within a stroke of its onset), rising from its last, or free; with the milliseconds to or
// from the note.
std::string fingerPhase(const HandMotion& motion, int finger, double t) {
    char text[64];
    std::snprintf(text, sizeof text, "free");
    double nearest = 1e9;
    for (size_t i = 0; i < motion.notes.size(); ++i) {
        const HandNote& n = motion.notes[i];
        if (n.finger != finger) {
            continue;
        }
        const double up = i < motion.letGo.size() ? motion.letGo[i] : n.keyUp;
        if (n.onset <= t && t < up) {
            std::snprintf(text, sizeof text, "holding key %d", n.key);
            return text;
        }
        if (n.onset > t && n.onset - t < kStrike && n.onset - t < nearest) {
            nearest = n.onset - t;
            std::snprintf(text, sizeof text, "landing on %d in %.0f ms", n.key,
                          (n.onset - t) * 1000.0);
        } else if (t >= up && t - up < kStrike && t - up < nearest) {
            nearest = t - up;
            std::snprintf(text, sizeof text, "rising from %d %.0f ms ago", n.key,
                          (t - up) * 1000.0);
        }
    }
    return text;
}
}  // namespace

TEST(LookHands, FingersOfAHandKeepOutOfEachOther) {
    // The fingers' solids (the drawn thickness) of one hand, 60 times a second over every piece:
    // two fingers may touch, going into each other by up to a millimetre (the skin gives where
    // neighbours touch), and the frames where they go further are few. A hand standing in a
    // position, more than a finger's stroke away from leaving or landing, lets its free fingers
    // give way, so there they are fewer still; while it travels its free fingers keep to their
    // lanes. Two fingers both holding keys never go into each other (a thumb passing under, a
    // finger crossing over), and no contact anywhere is deeper than a bound.
    constexpr float kTouch = 1.0f / 74.6f;
    constexpr float kDeepest = 10.0f / 74.6f;
    buildKeyLayout();
    int travelFrames = 0;
    int travelDeeper = 0;
    for (const Material& m : material()) {
        LookPerformance performance;
        ASSERT_TRUE(performanceOf(m.document, &performance)) << m.name;
        int frames[2] = {0, 0};  // standing, travelling
        int deeper[2] = {0, 0};  // of those, with fingers further in than a touch
        float deepest[2] = {0.0f, 0.0f};
        // Where the piece's deepest contact is: its time, its fingers and what each is doing.
        FingerContact worst;
        double worstAt = 0.0;
        int worstHand = 0;
        for (double t = 0.0; t < performance.duration; t += 1.0 / 60.0) {
            for (int hand = 0; hand < 2; ++hand) {
                const HandMotion& motion = performance.hands[hand];
                bool travelling = false;
                for (size_t k = 0; k + 1 < motion.anchors.size(); ++k) {
                    travelling = travelling || (t > motion.anchors[k].leave - kStrike &&
                                                t < motion.anchors[k + 1].start + kStrike);
                }
                const HandPose pose = handPoseAt(motion, t);
                const FingerContact c = deepestFingerContact(pose);
                ASSERT_GE(c.finger[0], 0) << m.name;
                ASSERT_LE(c.overlap, kDeepest)
                    << m.name << " at " << t << ": fingers " << c.finger[0] << " and "
                    << c.finger[1] << " of hand " << hand << " go " << c.overlap * 74.6f
                    << " mm into each other";
                for (int a = 0; a < 5; ++a) {
                    for (int b = a + 1; b < 5; ++b) {
                        if (pose.fingers[a].playing && pose.fingers[b].playing) {
                            const float both = fingerPairContact(pose, a, b).overlap;
                            EXPECT_LE(both, kTouch)
                                << m.name << " at " << t << ": playing fingers " << a << " and "
                                << b << " of hand " << hand << " go " << both * 74.6f
                                << " mm into each other";
                        }
                    }
                }
                ++frames[travelling];
                deeper[travelling] += c.overlap > kTouch ? 1 : 0;
                deepest[travelling] = std::max(deepest[travelling], c.overlap);
                if (c.overlap > worst.overlap) {
                    worst = c;
                    worstAt = t;
                    worstHand = hand;
                }
            }
        }
        const int all = frames[0] + frames[1];
        ASSERT_GT(all, 0) << m.name;
        travelFrames += frames[1];
        travelDeeper += deeper[1];
        EXPECT_LE(deeper[0], 0.003 * frames[0])
            << m.name << ": " << deeper[0] << " of " << frames[0]
            << " frames of a standing hand have fingers going into each other";
        EXPECT_LE(deeper[0] + deeper[1], 0.02 * all)
            << m.name << ": " << deeper[0] + deeper[1] << " of " << all
            << " frames have fingers going into each other";
        std::printf(
            "%-24s standing: %4d of %5d frames over 1 mm, deepest %4.1f mm; travelling: "
            "%4d of %4d, deepest %4.1f mm\n",
            m.name.c_str(), deeper[0], frames[0], std::max(0.0f, deepest[0]) * 74.6f, deeper[1],
            frames[1], std::max(0.0f, deepest[1]) * 74.6f);
        if (worst.overlap > kTouch) {
            const HandMotion& motion = performance.hands[worstHand];
            std::printf(
                "%-24s deepest at %.3f s, hand %d: finger %d (%s) bone %d, finger %d (%s) "
                "bone %d\n",
                "", worstAt, worstHand, worst.finger[0],
                fingerPhase(motion, worst.finger[0], worstAt).c_str(), worst.bone[0],
                worst.finger[1], fingerPhase(motion, worst.finger[1], worstAt).c_str(),
                worst.bone[1]);
        }
        std::fflush(stdout);
    }
    // Travelling hands over all the pieces together (a piece has a few dozen such frames).
    ASSERT_GT(travelFrames, 1000);
    EXPECT_LE(travelDeeper, 0.01 * travelFrames)
        << travelDeeper << " of " << travelFrames
        << " frames of a travelling hand have fingers going into each other";
    std::printf("travelling, all pieces: %d of %d frames over 1 mm\n", travelDeeper, travelFrames);
}

TEST(LookHands, TheThumbShowsOnTheKeyItPlays) {
    // The measure first: seen from straight out beyond the thumb's end, away from the palm,
    // nothing of the hand stands between; seen through the palm's middle, the palm does.
    buildKeyLayout();
    HandNote note{0, 39, 1.0, 2.0};
    const HandMotion alone = planHandMotion(0, {note});
    const HandPose pose = handPoseAt(alone, 1.5);
    const glm::vec3 tip = pose.fingers[0].joint[3];
    auto cameraAt = [&](glm::vec3 eye) {
        LookCamera camera;
        camera.view = glm::lookAt(eye, tip, glm::vec3(0.0f, 1.0f, 0.0f));
        return camera;
    };
    const glm::vec3 out = glm::normalize(tip - pose.palm);
    EXPECT_FLOAT_EQ(thumbTipShown(cameraAt(tip + out * 6.0f), pose), 1.0f);
    EXPECT_FLOAT_EQ(thumbTipShown(cameraAt(tip - out * 6.0f), pose), 0.0f);

    // Every thumb onset of every piece, in the player's view and in the close view that follows
    // the hands: most show at least two of the three points along the thumb's end to the camera.
    constexpr double kShownLeast = 0.98;
    int onsets = 0;
    int shown[2] = {0, 0};
    for (const Material& m : material()) {
        LookPerformance performance;
        ASSERT_TRUE(performanceOf(m.document, &performance)) << m.name;
        for (const LookNote& n : performance.notes) {
            if (n.finger != 0) {
                continue;
            }
            ++onsets;
            for (int v = 0; v < 2; ++v) {
                const LookPicture picture =
                    lookPictureAt(performance, v == 0 ? LookView::Player : LookView::Follow, 1280,
                                  720, n.onset + 1e-6);
                const float seen = thumbTipShown(picture.camera, picture.hands[n.hand]);
                ASSERT_GE(seen, 0.0f);
                ASSERT_LE(seen, 1.0f);
                shown[v] += seen >= 0.5f ? 1 : 0;
            }
        }
    }
    ASSERT_GT(onsets, 300);
    std::printf("thumb onsets: %d, shown in the player's view %.1f %%, in the close view %.1f %%\n",
                onsets, 100.0 * shown[0] / onsets, 100.0 * shown[1] / onsets);
    EXPECT_GE(shown[0], kShownLeast * onsets) << "player's view";
    EXPECT_GE(shown[1], kShownLeast * onsets) << "close view";
}
