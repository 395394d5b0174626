#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// An MP4 file of H.264 video and, when asked for, AAC stereo sound, written through FFmpeg's
// libraries (libavformat, libavcodec) in this process, the colour turned by export/colour.h: no
// external program, every failure is seen where it happens and reported in one line.

struct EncoderSettings {
    std::string path;  // the file to write (the exporter passes its temporary)
    int width = 0;     // pixels; both even (4:2:0 chroma halves them)
    int height = 0;
    int fps = 0;         // frames per second, 1..240
    int sampleRate = 0;  // sound samples per second; 0: no sound track
    std::string preset;  // the H.264 encoder's speed preset; "": superfast
    int threads = 0;     // the H.264 encoder's own threads; 0: its choice (by the cores)
};

struct VideoEncoder;

// Opens the file and both encoders. nullptr with a one-line reason in *error (no newline).
VideoEncoder* openEncoder(const EncoderSettings& settings, std::string* error);

// Encodes the next video frame: width * height * 4 bytes of RGBA, rows from the top edge down,
// or from the bottom edge up (as GL reads them) when bottomUp is set.
bool encodeFrame(VideoEncoder* encoder, const uint8_t* rgba, std::string* error,
                 bool bottomUp = false);

// Adds the next `frames` stereo sample frames (interleaved left, right) to the sound track.
bool encodeSound(VideoEncoder* encoder, const float* stereo, size_t frames, std::string* error);

// Flushes both encoders, writes the file's index and closes it. false with a reason when any of
// that fails (a full disk shows here at the latest).
bool finishEncoder(VideoEncoder* encoder, std::string* error);

// Frees everything, after finishEncoder or after a failure; closes the file if still open.
void closeEncoder(VideoEncoder* encoder);
