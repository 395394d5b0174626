#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geometry/hand_pose.h"
#include "look/look_camera.h"
#include "music/piece.h"

// What the new look shows at one moment, computed without GL: which keys are down and in whose
// colour, the falling-note bars of the lane in pixels, and the overlay's texts. The drawing
// (render/look_gl.h) only paints what this says.
//
// Sections: the performance it reads (LookPerformance, the one adaptor), colours, the lane's
// layout, the frame.

// ---- The performance, as the look reads it ----

// One note: who plays it and when, in seconds of the performance.
struct LookNote {
    int hand = 0;    // 0 right, 1 left
    int finger = 0;  // 0 thumb .. 4 little
    int key = 0;     // 0 (A0) .. 87 (C8)
    double onset = 0.0;
    double release = 0.0;  // the sound stops
    double keyUp = 0.0;    // the key is back up
    bool printed = false;  // the score prints this fingering
};

struct LookMeasure {
    double start;        // seconds
    std::string number;  // as printed
};

// The sustain pedal from `seconds` on: 0 up .. 1 down.
struct LookPedal {
    double seconds;
    float depth;
};

struct LookPerformance {
    std::vector<LookNote> notes;   // sorted by onset
    std::vector<LookPedal> pedal;  // sorted; empty: the performance has no pedal to show
    int shownHand = -1;  // 0 or 1: only that hand and its bars are drawn (the other hand's keys
                         // still go down); -1 both
    std::vector<LookMeasure> measures;  // sorted by start
    double duration = 0.0;
    double speed = 1.0;  // tempo factor the seconds were made at
    std::string title;
    std::string composer;
    HandMotion hands[2];  // each hand's motion over its notes (right, left)
};

// Plans both hands' motion from the notes (lookPerformanceOf does it; a performance made by
// hand calls it once its notes are in).
void planLookHands(LookPerformance* performance);

struct Timeline;
// The adaptor from the timeline (notes in seconds). `document` is the score text, read for its
// title, composer and printed fingerings; "" reads none. For a caller that holds only a
// document (tests, an export asked for without a piece); the program's modes pass the Piece.
LookPerformance lookPerformanceOf(const Timeline& timeline, const std::string& document);
// The same with the title, composer and printed fingers (matched by hand, first tick and key)
// taken from the piece the grids were made from, which nothing has to read again.
LookPerformance lookPerformanceOf(const Timeline& timeline, const Piece& piece);

// ---- Colours ----

struct LookColour {
    float r, g, b;  // 0..1
};

struct LookPalette {
    // Blue and orange: apart in hue and in lightness, told apart with every common kind of
    // colour blindness.
    LookColour hand[2] = {{0.22f, 0.60f, 0.96f}, {0.98f, 0.58f, 0.10f}};
    // A neutral, medium skin tone.
    LookColour skin = {0.80f, 0.60f, 0.50f};
};

// "RRGGBB,RRGGBB" (right hand, left hand; a leading # allowed on each). False with a one-line
// reason in *error for anything else.
bool parsePalette(const std::string& text, LookPalette* palette, std::string* error);
// "RRGGBB" (a leading # allowed): the hands' skin. False with a one-line reason otherwise.
bool parseSkin(const std::string& text, LookPalette* palette, std::string* error);

// ---- The lane ----

// Seconds of music the lane shows ahead at speed 1; at another speed it shows the same music
// (fewer or more seconds), so a bar's length in pixels stays the length of its note value.
constexpr double kLaneSecondsAhead = 3.0;

struct LaneColumn {
    float left = 0.0f;    // pixels
    float right = 0.0f;   // pixels
    float bottom = 0.0f;  // row where a bar meets this key (its back edge), pixels
};

struct LaneLayout {
    LaneColumn column[88];
    float bottom = 0.0f;  // lowest row a bar reaches (the lowest of the columns' bottoms)
    float top = 0.0f;     // row of the lane's far end (seconds ahead)
    double pixelsPerSecond = 0.0;
};

// Columns over each key's back edge as the camera sees them.
LaneLayout layLane(const LookCamera& camera, double speed);

// ---- The frame ----

struct LookKey {
    int hand = -1;  // -1 up; else the hand holding it down
    int finger = -1;
};

struct LookBar {
    int key;
    int hand;
    int finger;
    bool printed;
    float left, right;  // pixels
    float top, bottom;  // pixels; bottom is on the lane's bottom while the note sounds
};

struct LookFrame {
    LookKey keys[88];
    std::vector<LookBar> bars;  // in drawing order: white keys' bars first
    std::string measure;        // number of the measure sounding ("" before the first)
    double progress = 0.0;      // 0..1 of the performance
    float titleOpacity = 0.0f;  // the title's card: 1 at the start, fading out
    float pedal = -1.0f;        // the pedal in the corner: 0 up .. 1 down; < 0 not shown
};

// How long the drawn pedal takes to go down or come up: a foot's move, so the picture shows it
// moving rather than jumping.
constexpr double kPedalMoveSeconds = 0.08;
// The pedal's depth at `seconds`, moving from one depth to the next over kPedalMoveSeconds; -1
// when the performance has no pedal.
float lookPedalAt(const LookPerformance& performance, double seconds);

// How long the title card stays, and how long it fades.
constexpr double kTitleSeconds = 3.0;
constexpr double kTitleFade = 1.0;

LookFrame lookFrameAt(const LookPerformance& performance, const LaneLayout& lane, double seconds);

// The stretch of the keyboard the follow camera frames at `seconds`: the keys played from a
// second before to two seconds after, widened to at least two octaves and smoothed over nearby
// moments so that the camera glides. Pure in the time.
void followRange(const LookPerformance& performance, double seconds, float* left, float* right);

// ---- One picture ----

// Everything one picture of the new look needs: its camera (for Follow, closed in on the hands'
// range at that moment), the lane laid for it and the frame at that moment.
struct LookPicture {
    LookCamera camera;
    LaneLayout lane;
    LookFrame frame;
    HandPose hands[2];  // right, left
    bool handShown[2] = {true, true};
};

// `turn` turns the camera as a mouse drag in the window does; the lane follows it.
LookPicture lookPictureAt(const LookPerformance& performance, LookView view, int width, int height,
                          double seconds, LookTurn turn = LookTurn());

// The rows of the picture the keyboard and the hands can cover at that moment (the rest is lane
// and overlay, flat colour): *top to *bottom, pixels from the top edge, within the picture.
void sceneRows(const LookPicture& picture, int* top, int* bottom);
