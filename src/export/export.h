#pragma once

#include <string>
#include <vector>

#include "audio/loudness.h"
#include "export/export_defaults.h"
#include "export/output_file.h"
#include "geometry/player_view.h"
#include "look/look_camera.h"
#include "look/look_frame.h"
#include "timeline/timeline.h"

// Videos and pictures of the performance drawn without any window or X display: the planned
// score in the globals (grids and plans, as start-up leaves them) is turned into a timeline and
// drawn frame by frame with the window's own drawing (headless_gl.h), encoded with its sound
// (encoder.h) or saved as a PNG (png_file.h). Files appear under their name only when complete.

// Seconds of stillness before the first note and after the last key is up, so that neither
// sits on the first or last frame.
constexpr double kExportLeadIn = 1.0;
constexpr double kExportLeadOut = 1.0;
// Sound track sample rate.
constexpr int kExportSampleRate = 48000;

struct ExportRequest {
    std::string outputPath;
    int width = kDefaultFrameWidth;  // pixels; both even for a video
    int height = kDefaultFrameHeight;
    int fps = kDefaultFps;
    CameraView camera = CameraView::Player;
    double speed = 1.0;
    std::string fromMeasure;  // first measure played, as numbered in the score; "": the start
    std::string toMeasure;    // last measure played; "": the end
    bool sound = true;        // false: no sound track (--mute)
    std::string soundfont;    // "": the packaged General MIDI SoundFont
    std::string at;           // a still's position (see stillTick)
    std::vector<std::string> inputs;  // the files the run reads: the output may be none of them
    // The new look (note lane, lit keys, overlay, smooth edges) instead of the classic scene;
    // the program's --export and --still always ask for it.
    bool newLook = false;
    LookView lookView = LookView::Player;
    LookPalette palette;
    const ScoreTiming* timing = nullptr;  // tempo and measures given (the session's); null:
                                          // read from the document
    const Piece* shown = nullptr;  // the title, composer and printed fingers the new look shows;
                                   // null: read from the document
    const Piece* piece = nullptr;  // velocities and pedal of the notes; null: none stated
    int soundedHand = -1;          // 0 or 1: only that hand sounds and is drawn; -1 both
    bool metronome = false;        // clicks on the beats after a bar of count-in
};

// The H.264 preset of the new look's videos.
constexpr const char* kLookPreset = "ultrafast";
// x264's own threads for the new look: one, beside the renderer's two raster threads. With its
// default (one and a half a core) the processor time a frame was the same, and the workers only
// compete with the raster threads.
constexpr int kLookEncoderThreads = 1;

// What --export and --still write, for their refusal of a score's name.
constexpr const char* kVideoWritten = "an MP4 video (name it .mp4)";
constexpr const char* kPictureWritten = "a PNG picture (name it .png)";

// The output rule for a video (`video`) or a picture: checkOutput and checkNotScoreName of
// request.outputPath against request.inputs. false with the one line to print.
bool checkExportOutput(const ExportRequest& request, bool video, OutputTarget* target,
                       std::string* error);

// Writes the video of the performance. `document` is the XML text the reader loaded (tempo and
// measures come from it). Prints progress on standard error, one line per failure; 0 when the
// file is written, 1 when not (nothing is then left behind).
int exportVideo(const std::string& document, const ExportRequest& request);

// Writes one picture of the performance at request.at. 0 written, 1 not (one line said why).
int exportStill(const std::string& document, const ExportRequest& request);

// The position of a still, in ticks (fractional between ticks): a number of quarter notes from
// the start of the score ("12", "7.5", "0.25"), or "m" and a measure number as written in the
// score ("m5") for that measure's start. false with a one-line reason when the text is neither
// or lies past the score's end.
bool stillPosition(const ScoreTiming& timing, const std::string& at, double* tick,
                   std::string* error);
// The tick holding that position (stillPosition rounded down).
bool stillTick(const ScoreTiming& timing, const std::string& at, int32_t* tick, std::string* error);

// ---- Figures of the last exportVideo, for the benchmark. ----
struct ExportFigures {
    long frames = 0;
    double videoSeconds = 0.0;   // frames / fps
    double wallSeconds = 0.0;    // the whole export
    double drawSeconds = 0.0;    // drawing and reading the pictures back
    double readSeconds = 0.0;    // of which reading back, once drawn
    double soundSeconds = 0.0;   // synthesising the sound track
    double encodeSeconds = 0.0;  // colour conversion, encoding and writing (its own thread)
    double waitSeconds = 0.0;    // drawing waiting for a free picture buffer
    // The drawing thread's frame, by stage (wall clock, and its own processor time where the
    // difference is waiting): the pure frame (pose, lane, picture), the GL calls, the read-back
    // (which waits for the raster threads to finish the picture read).
    double pureSeconds = 0.0;
    double issueSeconds = 0.0;
    double issueThreadSeconds = 0.0;
    double readThreadSeconds = 0.0;
    double encodeIdleSeconds = 0.0;  // the encoding thread waiting for a picture
    Loudness loudnessBefore;         // the sound track as synthesised
    Loudness loudnessAfter;          // as written, after the normalising gain
    // Processor time of the two threads themselves (the renderer's and the encoder library's own
    // threads not counted), which other work on the machine does not inflate as it does the
    // wall-clock figures above.
    double drawThreadSeconds = 0.0;    // the drawing thread, over its frames
    double encodeThreadSeconds = 0.0;  // the encoding thread, over the whole export
    double soundThreadSeconds = 0.0;   // the sound's synthesis, on a thread of its own
};
extern ExportFigures lastExportFigures;

// ---- Hooks for tests and benchmarks; the program leaves them null. ----
// Called after every frame with the share of frames done (0..1].
extern void (*exportFrameDone)(double fraction);
