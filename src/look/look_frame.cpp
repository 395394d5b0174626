#include "look/look_frame.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <pugixml.hpp>
#include <set>
#include <tuple>

#include "fingering/optimal_printed.h"
#include "geometry/key_layout.h"
#include "music/titles.h"
#include "timeline/timeline.h"

// Sections: the adaptor from the timeline; colours; the lane; the frame; the follow camera.

namespace {
// Half widths of the lane's columns, scene units: a white key's bar a little narrower than the
// key so that neighbours stay apart, a black key's as wide as its key.
constexpr float kWhiteColumnHalf = 0.135f;
constexpr float kBlackColumnHalf = 0.08f;
// The keys' top at the hinge, where the lane begins.
constexpr float kLaneFloorY = 0.275f;
constexpr float kLaneFloorZ = -0.83f;

float keyX(int key) {
    return KeyLayout[std::clamp(key, 0, 87)].x;
}
}  // namespace

// ---- The adaptor ----

namespace {
using PrintedSet = std::set<std::tuple<int, int32_t, int32_t>>;  // (hand, tick, key)
LookPerformance lookPerformanceWith(const Timeline& timeline, const PrintedSet& printed,
                                    const std::string& title, const std::string& composer);
}  // namespace

LookPerformance lookPerformanceOf(const Timeline& timeline, const std::string& document) {
    std::string title;
    std::string composer;
    pugi::xml_document xml;
    if (!document.empty() && xml.load_buffer(document.data(), document.size(),
                                             pugi::parse_default & ~pugi::parse_doctype)) {
        readScoreTitles(xml.document_element(), &title, &composer);
    }
    PrintedSet printed;
    std::vector<PrintedFinger> fingers;
    std::string error;
    if (!document.empty() && readPrintedFingers(document, &fingers, &error)) {
        for (const PrintedFinger& f : fingers) {
            printed.insert({f.hand, f.tick, f.key});
        }
    }
    return lookPerformanceWith(timeline, printed, title, composer);
}

LookPerformance lookPerformanceOf(const Timeline& timeline, const Piece& piece) {
    PrintedSet printed;
    for (const PieceNote& note : piece.notes) {
        if (note.printedFinger >= 1 && note.printedFinger <= 5) {
            printed.insert({note.hand, note.tick, note.key});
        }
    }
    return lookPerformanceWith(timeline, printed, piece.title, piece.composer);
}

namespace {
LookPerformance lookPerformanceWith(const Timeline& timeline, const PrintedSet& printed,
                                    const std::string& title, const std::string& composer) {
    LookPerformance performance;
    performance.duration = timeline.duration;
    performance.speed = timeline.options.speed > 0.0 ? timeline.options.speed : 1.0;
    performance.title = title;
    performance.composer = composer;
    performance.notes.reserve(timeline.notes.size());
    for (const TimedNote& n : timeline.notes) {
        LookNote note;
        note.hand = n.hand == 1 ? 1 : 0;
        note.finger = std::clamp(n.finger, 0, 4);
        note.key = std::clamp(static_cast<int>(n.key), 0, 87);
        note.onset = n.onset;
        note.release = std::max(n.release, n.onset);
        note.keyUp = std::max(n.keyUp, n.onset);
        note.printed = printed.count({n.hand, n.tick, n.key}) > 0;
        performance.notes.push_back(note);
    }
    planLookHands(&performance);
    for (const PiecePedal& p : timeline.pedal) {
        performance.pedal.push_back(
            {p.seconds, static_cast<float>(std::clamp(p.value / 127.0, 0.0, 1.0))});
    }
    performance.shownHand = timeline.options.soundedHand;
    const int32_t from = timeline.options.fromTick;
    const int32_t to = timeline.options.toTick;
    for (const MeasureStart& m : timeline.timing.measures) {
        if (m.tick >= from && (to < 0 || m.tick < to)) {
            performance.measures.push_back({timeOfTick(timeline, m.tick), m.number});
        } else if (m.tick < from) {
            // The measure the range starts inside of counts from the range's start.
            if (performance.measures.empty()) {
                performance.measures.push_back({timeOfTick(timeline, from), m.number});
            } else {
                performance.measures.back().number = m.number;
            }
        }
    }
    return performance;
}
}  // namespace

void planLookHands(LookPerformance* performance) {
    std::vector<HandNote> notes[2];
    for (const LookNote& n : performance->notes) {
        notes[n.hand].push_back({n.finger, n.key, n.onset, n.keyUp});
    }
    for (int hand = 0; hand < 2; ++hand) {
        performance->hands[hand] = planHandMotion(hand, notes[hand]);
    }
    restIdleHands(&performance->hands[0], &performance->hands[1]);
}

// ---- Colours ----

bool parsePalette(const std::string& text, LookPalette* palette, std::string* error) {
    LookPalette parsed;
    size_t at = 0;
    for (int hand = 0; hand < 2; ++hand) {
        if (at < text.size() && text[at] == '#') {
            ++at;
        }
        unsigned value = 0;
        for (int i = 0; i < 6; ++i, ++at) {
            const char c = at < text.size() ? text[at] : '\0';
            const int digit = (c >= '0' && c <= '9')   ? c - '0'
                              : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                              : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                       : -1;
            if (digit < 0) {
                *error =
                    "--colors must be two colours RRGGBB,RRGGBB (right hand, left hand), not '" +
                    text + "'";
                return false;
            }
            value = value * 16 + static_cast<unsigned>(digit);
        }
        parsed.hand[hand] = {static_cast<float>((value >> 16) & 255) / 255.0f,
                             static_cast<float>((value >> 8) & 255) / 255.0f,
                             static_cast<float>(value & 255) / 255.0f};
        if (hand == 0) {
            if (at >= text.size() || text[at] != ',') {
                *error =
                    "--colors must be two colours RRGGBB,RRGGBB (right hand, left hand), not '" +
                    text + "'";
                return false;
            }
            ++at;
        }
    }
    if (at != text.size()) {
        *error = "--colors must be two colours RRGGBB,RRGGBB (right hand, left hand), not '" +
                 text + "'";
        return false;
    }
    *palette = parsed;
    return true;
}

bool parseSkin(const std::string& text, LookPalette* palette, std::string* error) {
    // The same reading as a pair of colours, of this one colour twice.
    LookPalette parsed;
    const std::string bare = !text.empty() && text[0] == '#' ? text.substr(1) : text;
    if (bare.size() != 6 || bare.find(',') != std::string::npos ||
        !parsePalette(bare + "," + bare, &parsed, error)) {
        *error = "--skin must be a colour RRGGBB, not '" + text + "'";
        return false;
    }
    palette->skin = parsed.hand[0];
    return true;
}

// ---- The lane ----

LaneLayout layLane(const LookCamera& camera, double speed) {
    buildKeyLayout();
    LaneLayout lane;
    lane.top = 0.0f;
    lane.bottom = 0.0f;
    const float height = static_cast<float>(camera.height);
    for (int key = 0; key < 88; ++key) {
        const float half = isBlackKey(key) ? kBlackColumnHalf : kWhiteColumnHalf;
        double left = 0.0;
        double right = 0.0;
        double row = 0.0;
        double middle = 0.0;
        const bool seen =
            projectLook(camera, {keyX(key) - half, kLaneFloorY, kLaneFloorZ}, &left, &row) &&
            projectLook(camera, {keyX(key) + half, kLaneFloorY, kLaneFloorZ}, &right, &row) &&
            projectLook(camera, {keyX(key), kLaneFloorY, kLaneFloorZ}, &middle, &row);
        if (!seen) {
            lane.column[key] = LaneColumn{-1.0f, -1.0f, 0.0f};
            continue;
        }
        lane.column[key] = LaneColumn{static_cast<float>(std::min(left, right)),
                                      static_cast<float>(std::max(left, right)),
                                      std::clamp(static_cast<float>(row), 0.0f, height)};
        lane.bottom = std::max(lane.bottom, lane.column[key].bottom);
    }
    const double ahead = kLaneSecondsAhead / (speed > 0.0 ? speed : 1.0);
    lane.pixelsPerSecond = lane.bottom > lane.top ? (lane.bottom - lane.top) / ahead : 0.0;
    return lane;
}

// ---- The frame ----

LookFrame lookFrameAt(const LookPerformance& performance, const LaneLayout& lane, double seconds) {
    LookFrame frame;
    const double pps = lane.pixelsPerSecond;
    const double ahead = pps > 0.0 ? (lane.bottom - lane.top) / pps : 0.0;
    std::vector<LookBar> blackBars;
    for (const LookNote& note : performance.notes) {
        if (note.onset > seconds + ahead) {
            break;  // sorted by onset: nothing later reaches the lane
        }
        if (note.onset <= seconds && seconds < note.keyUp) {
            frame.keys[note.key].hand = note.hand;
            frame.keys[note.key].finger = note.finger;
        }
        if (note.release <= seconds && !(note.onset <= seconds && seconds < note.keyUp)) {
            continue;
        }
        if (performance.shownHand >= 0 && note.hand != performance.shownHand) {
            continue;  // the hand the player plays: its keys go down, its bars are not drawn
        }
        const LaneColumn& column = lane.column[note.key];
        if (column.right <= column.left) {
            continue;
        }
        LookBar bar;
        bar.key = note.key;
        bar.hand = note.hand;
        bar.finger = note.finger;
        bar.printed = note.printed;
        bar.left = column.left;
        bar.right = column.right;
        const double end = std::max(note.release, note.keyUp);
        bar.bottom =
            static_cast<float>(column.bottom - (std::max(note.onset, seconds) - seconds) * pps);
        bar.top =
            static_cast<float>(std::max<double>(lane.top, column.bottom - (end - seconds) * pps));
        if (bar.bottom <= lane.top + 1.0f) {
            continue;  // still beyond the lane's far end (a column whose floor is high)
        }
        // A very short note still shows as a line.
        bar.top = std::max(lane.top, std::min(bar.top, bar.bottom - 1.0f));
        (isBlackKey(note.key) ? blackBars : frame.bars).push_back(bar);
    }
    frame.bars.insert(frame.bars.end(), blackBars.begin(), blackBars.end());
    for (const LookMeasure& m : performance.measures) {
        if (m.start > seconds + 1e-9) {
            break;
        }
        frame.measure = m.number;
    }
    frame.progress =
        performance.duration > 0.0 ? std::clamp(seconds / performance.duration, 0.0, 1.0) : 0.0;
    frame.titleOpacity = static_cast<float>(
        std::clamp((kTitleSeconds + kTitleFade - seconds) / kTitleFade, 0.0, 1.0));
    if (performance.title.empty() && performance.composer.empty()) {
        frame.titleOpacity = 0.0f;
    }
    frame.pedal = lookPedalAt(performance, seconds);
    return frame;
}

float lookPedalAt(const LookPerformance& performance, double seconds) {
    const std::vector<LookPedal>& pedal = performance.pedal;
    if (pedal.empty()) {
        return -1.0f;
    }
    // Each move heads for its depth from where the one before left the pedal, until the next
    // move starts (a change at one moment, up and straight down, keeps it down).
    double depth = 0.0;
    for (size_t i = 0; i < pedal.size() && pedal[i].seconds <= seconds; ++i) {
        const double next = i + 1 < pedal.size() ? pedal[i + 1].seconds : seconds;
        const double until = std::min(seconds, next);
        const double t = std::clamp((until - pedal[i].seconds) / kPedalMoveSeconds, 0.0, 1.0);
        depth += (pedal[i].depth - depth) * t;
    }
    return static_cast<float>(std::clamp(depth, 0.0, 1.0));
}

// ---- The follow camera ----

void followRange(const LookPerformance& performance, double seconds, float* left, float* right) {
    // Two octaves of white keys at least, and a key's width of room on each side.
    constexpr float kNarrowest = 14 * 0.315f;
    constexpr float kRoom = 0.45f;
    constexpr double kBefore = 1.0;
    constexpr double kAfter = 2.0;
    constexpr int kSamples = 9;
    constexpr double kSpread = 1.0;  // seconds the samples are spread over, centred on now
    buildKeyLayout();
    double lowSum = 0.0;
    double highSum = 0.0;
    int counted = 0;
    for (int s = 0; s < kSamples; ++s) {
        const double t = seconds + kSpread * (static_cast<double>(s) / (kSamples - 1) - 0.5);
        float low = 1e9f;
        float high = -1e9f;
        for (const LookNote& note : performance.notes) {
            if (note.onset > t + kAfter) {
                break;
            }
            if (note.keyUp < t - kBefore) {
                continue;
            }
            low = std::min(low, keyX(note.key));
            high = std::max(high, keyX(note.key));
        }
        if (high >= low) {
            lowSum += low;
            highSum += high;
            ++counted;
        }
    }
    if (counted == 0) {
        *left = kKeyboardLeft;
        *right = kKeyboardRight;
        return;
    }
    float low = static_cast<float>(lowSum / counted) - kRoom;
    float high = static_cast<float>(highSum / counted) + kRoom;
    if (high - low < kNarrowest) {
        const float centre = (low + high) / 2.0f;
        low = centre - kNarrowest / 2.0f;
        high = centre + kNarrowest / 2.0f;
    }
    *left = std::max(low, kKeyboardLeft);
    *right = std::min(high, kKeyboardRight);
    if (*right - *left < kNarrowest) {
        // Against an end of the keyboard: keep the width, inside it.
        if (*left == kKeyboardLeft) {
            *right = kKeyboardLeft + kNarrowest;
        } else {
            *left = kKeyboardRight - kNarrowest;
        }
    }
}

// ---- One picture ----

LookPicture lookPictureAt(const LookPerformance& performance, LookView view, int width, int height,
                          double seconds, LookTurn turn) {
    LookPicture picture;
    float left = kKeyboardLeft;
    float right = kKeyboardRight;
    if (view == LookView::Follow) {
        followRange(performance, seconds, &left, &right);
    }
    picture.camera = turnLookCamera(makeLookCamera(view, width, height, left, right), turn);
    picture.lane = layLane(picture.camera, performance.speed);
    picture.frame = lookFrameAt(performance, picture.lane, seconds);
    for (int hand = 0; hand < 2; ++hand) {
        picture.hands[hand] = handPoseAt(performance.hands[hand], seconds);
        picture.handShown[hand] = performance.shownHand < 0 || performance.shownHand == hand;
    }
    return picture;
}

void sceneRows(const LookPicture& picture, int* top, int* bottom) {
    const LookCamera& camera = picture.camera;
    double highest = camera.height;
    double lowest = 0.0;
    auto include = [&](glm::vec3 p, float radius) {
        double column = 0.0;
        double row = 0.0;
        if (!projectLook(camera, p + glm::vec3(0.0f, radius, 0.0f), &column, &row)) {
            highest = 0.0;  // behind the eye: take the whole picture
            lowest = camera.height;
            return;
        }
        highest = std::min(highest, row);
        double below = 0.0;
        if (projectLook(camera, p - glm::vec3(0.0f, radius, 0.0f), &column, &below)) {
            lowest = std::max(lowest, std::max(row, below));
        } else {
            lowest = camera.height;
        }
    };
    for (float x : {kKeyboardLeft - 0.2f, 0.0f, kKeyboardRight + 0.2f}) {
        for (float z : {-0.9f, 0.9f}) {
            include({x, 0.07f, z}, 0.3f);
        }
    }
    for (const HandPose& hand : picture.hands) {
        include(hand.wrist, 0.45f);
        include(hand.elbowward, 0.5f);
        include(hand.palm, 0.45f);
        for (const FingerPose& finger : hand.fingers) {
            for (const glm::vec3& joint : finger.joint) {
                include(joint, 0.2f);
            }
        }
    }
    constexpr double kMargin = 3.0;
    *top = static_cast<int>(std::clamp(std::floor(highest - kMargin), 0.0, double(camera.height)));
    *bottom = static_cast<int>(std::clamp(std::ceil(lowest + kMargin), 0.0, double(camera.height)));
    if (*bottom <= *top) {
        *top = 0;
        *bottom = camera.height;
    }
}
