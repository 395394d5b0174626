#include <GL/glut.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/mouse.h"
#include "app/platform.h"
#include "app/realtime.h"
#include "app/session.h"
#include "app/state.h"
#include "app/window_gl.h"
#include "audio/live_sound.h"
#include "audio/synth.h"
#include "geometry/camera.h"
#include "geometry/player_view.h"
#include "look/look_frame.h"
#include "render/look_gl.h"
#include "render/scene_gl.h"
#include "render/view_gl.h"

namespace {
constexpr int kRealtimeWidth = 1280;
constexpr int kRealtimeHeight = 720;
constexpr int kRealtimeLeft = 0;  // at the corner, so a 1280-pixel-wide screen shows it whole
constexpr int kRealtimeTop = 0;
constexpr const char* kRealtimeTitle = "Quorvel";

bool playWhenShown = false;

// The window draws the new look: the performance as it reads it, and the hands' colours.
LookPerformance look;
LookPalette palette;

// The camera as the mouse has turned it: a left-button drag turns it about the keyboard's
// middle (across: round the keyboard; up and down: higher or lower).
LookTurn turn;
bool dragging = false;
int dragX = 0;
int dragY = 0;

void onLookMouse(int button, int state, int x, int y) {
    if (button != GLUT_LEFT_BUTTON) {
        return;
    }
    dragging = state == GLUT_DOWN;
    dragX = x;
    dragY = y;
}

void onLookMotion(int x, int y) {
    if (!dragging) {
        return;
    }
    dragLookTurn(&turn, x - dragX, y - dragY);
    dragX = x;
    dragY = y;
    glutPostRedisplay();
}

// A frame is on screen from its swap until the next one. It shows the performance as it stands
// halfway through that stretch, so a key goes down on the frame nearest its onset rather than on
// the first one after it. Both durations are smoothed over the last frames.
double drawSeconds = 0.0;    // from the start of a frame to its swap
double periodSeconds = 0.0;  // from one swap to the next, while playing
double lastSwap = -1.0;
constexpr double kSmoothing = 0.1;      // weight of the newest frame
constexpr double kLongestPeriod = 0.1;  // a pause in drawing is not a frame period

double wallNow() {
    return liveSoundWallNow();
}

void onRealtimeDisplay() {
    double wall = wallNow();
    if (playWhenShown) {
        playWhenShown = false;
        realtimePlay(wall);
    }
    const double shownAt = wall + drawSeconds + periodSeconds / 2;
    bool playing = realtimeFrame(wall, shownAt);
    const double seconds = clockTime(realtime.clock, shownAt);
    const LookPicture picture =
        lookPictureAt(look, LookView::Player, windowWidth, windowHeight, seconds, turn);
    drawLookFrame(picture, look, palette);
    glutSwapBuffers();
    double swapped = wallNow();
    drawSeconds += kSmoothing * (swapped - wall - drawSeconds);
    if (playing && lastSwap >= 0.0 && swapped - lastSwap < kLongestPeriod) {
        periodSeconds += kSmoothing * (swapped - lastSwap - periodSeconds);
    }
    lastSwap = playing ? swapped : -1.0;
    if (realtimeFrameShown != nullptr) {
        realtimeFrameShown(swapped);
    }
    // While playing, the next frame follows at once; a stopped window waits for events.
    if (playing) {
        glutPostRedisplay();
    }
}

void onRealtimeReshape(int width, int height) {
    if (width <= 0 || height <= 0) {
        return;
    }
    windowWidth = width;
    windowHeight = height;
    setViewProjection(width, height);
}

void onRealtimeKeyboard(unsigned char key, int, int) {
    if (realtimeKey(key, wallNow())) {
        glutPostRedisplay();
    }
}

void closeSoundAtExit() {
    closeLiveSound();
}

// Every event of the performance to the live player: notes with their velocity, the pedal, clicks.
void playLive(const PerformanceEvent& event, double wall) {
    switch (event.kind) {
        case EventKind::Note:
            liveSoundScheduleNote(event.key, event.on, event.velocity, wall);
            break;
        case EventKind::Pedal:
            liveSoundSchedulePedal(event.velocity, wall);
            break;
        case EventKind::Click:
            liveSoundScheduleClick(event.key, event.velocity, wall);
            break;
    }
}

// The piano, unless muted; without it the performance goes on silently after one line saying why.
void openSound(const ProgramOptions& options) {
    if (options.mute) {
        return;
    }
    LiveSoundOptions soundOptions;
    soundOptions.soundfont = options.soundfont.empty() ? defaultSoundfontPath() : options.soundfont;
    std::string error;
    if (!openLiveSound(soundOptions, &error)) {
        std::fprintf(stderr, "No sound: %s; playing silently\n", error.c_str());
        std::fflush(stderr);
        return;
    }
    std::atexit(closeSoundAtExit);
    realtimeSound.schedule = liveSoundSchedule;
    realtimeSound.silence = liveSoundSilence;
    realtimeSound.play = playLive;
}

int openPreparedWindow(const ProgramOptions& options, LookPerformance performance, int argc,
                       char** argv);
}  // namespace

void (*realtimeFrameShown)(double wall) = nullptr;

int openRealtimeWindow(const ProgramOptions& options, const std::string& document, int argc,
                       char** argv) {
    std::string error;
    if (!prepareRealtime(options, document, &error)) {
        std::fprintf(stderr, "quorvel: %s\n", error.c_str());
        std::fflush(stderr);
        return 1;
    }
    return openPreparedWindow(options, lookPerformanceOf(realtime.timeline, document), argc, argv);
}

int openRealtimeWindow(const ProgramOptions& options, const ScoreTiming& timing, const Piece& shown,
                       int argc, char** argv) {
    std::string error;
    if (!prepareRealtime(options, timing, &error)) {
        std::fprintf(stderr, "quorvel: %s\n", error.c_str());
        std::fflush(stderr);
        return 1;
    }
    return openPreparedWindow(options, lookPerformanceOf(realtime.timeline, shown), argc, argv);
}

namespace {
// The window of a performance whose timeline stands ready.
int openPreparedWindow(const ProgramOptions& options, LookPerformance performance, int argc,
                       char** argv) {
    std::string error;
    openSound(options);
    playWhenShown = options.startPlaying;
    look = std::move(performance);
    if (!options.colors.empty()) {
        parsePalette(options.colors, &palette, &error);
    }
    if (!options.skin.empty()) {
        parseSkin(options.skin, &palette, &error);
    }

    createGlutWindow(argc, argv, kRealtimeWidth, kRealtimeHeight, kRealtimeLeft, kRealtimeTop,
                     kRealtimeTitle);

    setPlayerView(CameraView::Player, static_cast<double>(kRealtimeWidth) / kRealtimeHeight);
    glutDisplayFunc(onRealtimeDisplay);
    glutReshapeFunc(onRealtimeReshape);
    glutMouseFunc(onLookMouse);
    glutMotionFunc(onLookMotion);
    glutKeyboardFunc(onRealtimeKeyboard);
    enableSceneState();
    return 0;
}
}  // namespace

int runRealtime(const ProgramOptions& options, int argc, char** argv) {
    int status = openRealtimeWindow(options, sessionTiming, sessionPiece, argc, argv);
    if (status != 0) {
        return status;
    }
    glutMainLoop();
    return 0;
}
