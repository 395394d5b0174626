#include "export/export.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "animation/performance.h"
#include "audio/loudness.h"
#include "audio/synth.h"
#include "export/encoder.h"
#include "export/headless_gl.h"
#include "export/output_file.h"
#include "export/png_file.h"
#include "render/look_gl.h"
#include "score/score_model.h"

ExportFigures lastExportFigures;
void (*exportFrameDone)(double fraction) = nullptr;

namespace {
using Clock = std::chrono::steady_clock;

// On a terminal the progress line is rewritten in place; elsewhere (a log) a line this often.
constexpr double kProgressLogSeconds = 5.0;
// The progress line on a terminal is rewritten at most this often.
constexpr double kProgressTerminalSeconds = 0.25;

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int) {
    interrupted = 1;
}

// SIGINT and SIGTERM only set a flag while an export runs: the frame loop sees it, removes the
// temporary file and ends cleanly. The previous handlers come back afterwards.
struct InterruptGuard {
    struct sigaction previousInt {};
    struct sigaction previousTerm {};
    InterruptGuard() {
        interrupted = 0;
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previousInt);
        sigaction(SIGTERM, &action, &previousTerm);
    }
    ~InterruptGuard() {
        sigaction(SIGINT, &previousInt, nullptr);
        sigaction(SIGTERM, &previousTerm, nullptr);
    }
};

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor seconds the calling thread has used so far.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

std::string clockText(double seconds) {
    long whole = seconds > 0.0 ? static_cast<long>(seconds + 0.5) : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

// Percentage, frames per second and time left, on standard error.
class Progress {
public:
    Progress(long total) : total_(total), terminal_(isatty(STDERR_FILENO) != 0) {}

    void frameDone(long done, double elapsed) {
        const bool last = done == total_;
        if (!last &&
            elapsed - shownAt_ < (terminal_ ? kProgressTerminalSeconds : kProgressLogSeconds)) {
            return;
        }
        shownAt_ = elapsed;
        const double rate = elapsed > 0.0 ? done / elapsed : 0.0;
        const double left = rate > 0.0 ? (total_ - done) / rate : 0.0;
        std::fprintf(stderr, "%sExporting: %3ld%%, frame %ld of %ld, %.1f frames/s, %s left%s",
                     terminal_ ? "\r" : "", done * 100 / total_, done, total_, rate,
                     clockText(left).c_str(), terminal_ ? (last ? "\n" : "  ") : "\n");
        std::fflush(stderr);
        open_ = terminal_ && !last;
    }

    // Ends a progress line left open on a terminal, before another message.
    void close() {
        if (open_) {
            std::fputc('\n', stderr);
            open_ = false;
        }
    }

private:
    long total_;
    bool terminal_;
    bool open_ = false;
    double shownAt_ = -1e9;
};

void sayFailure(const std::string& what, const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "%s %s: %s\n", what.c_str(), path.c_str(), reason.c_str());
    std::fflush(stderr);
}

// The new look's performance: titles and printed fingers from the piece the request names, else
// from the document.
LookPerformance lookOf(const Timeline& timeline, const std::string& document,
                       const ExportRequest& request) {
    return request.shown != nullptr ? lookPerformanceOf(timeline, *request.shown)
                                    : lookPerformanceOf(timeline, document);
}

// Tempo and measures of the document, and the timeline of the range asked for.
bool makeTimeline(const std::string& document, const ExportRequest& request, Timeline* timeline,
                  std::string* error) {
    ScoreTiming timing;
    if (request.timing != nullptr) {
        timing = *request.timing;
    } else if (!readScoreTiming(document.data(), document.size(), &timing, error)) {
        return false;
    }
    TimelineOptions options;
    options.speed = request.speed;
    options.leadIn = kExportLeadIn;
    options.leadOut = kExportLeadOut;
    options.piece = request.piece;
    options.soundedHand = request.soundedHand;
    options.metronome = request.metronome;
    if (!measureRange(timing, request.fromMeasure, request.toMeasure, &options.fromTick,
                      &options.toTick, error)) {
        return false;
    }
    // The timeline starts the hands from their poses in the globals: put them back where
    // start-up left them, whatever an earlier picture of this process drew.
    resetPerformance();
    *timeline = buildTimeline(timing, options);
    return true;
}

// The moment to draw, computed in pure code: the performance at that time, and the new look's
// picture of it when the request asks for the new look.
struct Moment {
    PerformanceFrame frame{};
    LookPicture picture;
};

void computeMoment(const ExportRequest& request, const Timeline& timeline,
                   const LookPerformance& look, double seconds, Moment* moment) {
    performanceAt(timeline, seconds, &moment->frame);
    if (request.newLook) {
        moment->picture =
            lookPictureAt(look, request.lookView, request.width, request.height, seconds);
    }
}

// Puts the moment into the globals the drawing reads, and draws it: the classic scene, or the
// new look of `look`.
void drawComputedMoment(const ExportRequest& request, const LookPerformance& look,
                        const Moment& moment) {
    applyFrame(moment.frame);
    if (!request.newLook) {
        drawHeadlessFrame();
        return;
    }
    drawLookFrame(moment.picture, look, request.palette);
}

void drawMoment(const ExportRequest& request, const Timeline& timeline, const LookPerformance& look,
                double seconds) {
    Moment moment;
    computeMoment(request, timeline, look, seconds, &moment);
    drawComputedMoment(request, look, moment);
}

bool openPicture(const ExportRequest& request, std::string* error) {
    if (!request.newLook) {
        setPlayerView(request.camera, static_cast<double>(request.width) / request.height);
    }
    return openHeadless(request.width, request.height, error);
}

// Pictures handed from the drawing to the encoding thread. A few buffers go round: the drawing
// fills a free one while the encoder works on the last, so neither waits for the other unless
// one is slower throughout.
class FramePipe {
public:
    explicit FramePipe(size_t buffers) {
        for (size_t i = 0; i < buffers; ++i) {
            free_.emplace_back();
        }
    }

    // A buffer to draw into; false once the encoder has stopped (it failed).
    bool take(std::vector<uint8_t>* buffer) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !free_.empty() || stopped_; });
        if (stopped_) {
            return false;
        }
        buffer->swap(free_.front());
        free_.pop_front();
        return true;
    }
    void push(long index, std::vector<uint8_t>* buffer) {
        std::lock_guard<std::mutex> lock(mutex_);
        full_.emplace_back(index, std::move(*buffer));
        changed_.notify_all();
    }
    // No more pictures come.
    void close() {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }
    // The next picture for the encoder; false when closed and empty.
    bool next(long* index, std::vector<uint8_t>* buffer) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !full_.empty() || closed_; });
        if (full_.empty()) {
            return false;
        }
        *index = full_.front().first;
        buffer->swap(full_.front().second);
        full_.pop_front();
        return true;
    }
    void giveBack(std::vector<uint8_t>* buffer) {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(std::move(*buffer));
        changed_.notify_all();
    }
    // The encoder failed: the drawing stops at its next take.
    void stop() {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<uint8_t>> free_;
    std::deque<std::pair<long, std::vector<uint8_t>>> full_;
    bool closed_ = false;
    bool stopped_ = false;
};

// Buffers in the pipe: one being drawn, one being encoded, one waiting.
constexpr size_t kPipeBuffers = 3;

// The sound track, synthesised whole on a thread of its own while the first frames are drawn
// (the synthesiser renders in order from the start, and the loudness is measured over the whole
// track); the encoder takes it frame by frame beside the pictures once it is ready, catching up
// with the frames encoded before. The thread is joined when the track goes out of scope.
class SoundTrack {
public:
    ~SoundTrack() { wait(); }

    // Starts the synthesis. false with the one line to print when no SoundFont is to be had,
    // before any work.
    bool start(const ExportRequest& request, const Timeline& timeline, std::string* error) {
        const std::string soundfont =
            request.soundfont.empty() ? defaultSoundfontPath() : request.soundfont;
        if (soundfont.empty()) {
            *error =
                "no General MIDI SoundFont is installed (install fluid-soundfont-gm, give "
                "--soundfont FILE, or export without sound with --mute)";
            return false;
        }
        thread_ = std::thread([this, soundfont, &timeline] {
            pthread_setname_np(pthread_self(), "sound");
            const Clock::time_point started = Clock::now();
            const double cpu = threadSeconds();
            // Brought to the loudness of other videos, its true peak kept below full scale.
            ok_ = renderTimelineAudio(timeline, soundfont, kExportSampleRate, &stereo_, &error_) &&
                  normaliseLoudness(&stereo_, kExportSampleRate, &lastExportFigures.loudnessBefore,
                                    &lastExportFigures.loudnessAfter, &error_);
            lastExportFigures.soundSeconds = secondsSince(started);
            lastExportFigures.soundThreadSeconds = threadSeconds() - cpu;
            done_.store(true, std::memory_order_release);
        });
        return true;
    }

    // Whether the synthesis has ended (well or not); does not wait.
    bool ready() const { return done_.load(std::memory_order_acquire); }
    void wait() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    // Once ready: whether it worked, why not, and the interleaved stereo samples.
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    const std::vector<float>& stereo() const { return stereo_; }

private:
    std::thread thread_;
    std::atomic<bool> done_{false};
    bool ok_ = false;
    std::string error_;
    std::vector<float> stereo_;
};
}  // namespace

bool stillPosition(const ScoreTiming& timing, const std::string& at, double* tick,
                   std::string* error) {
    if (at.size() > 1 && (at[0] == 'm' || at[0] == 'M')) {
        const int32_t start = measureTick(timing, at.substr(1));
        if (start < 0) {
            *error = noSuchMeasure(at.substr(1));
            return false;
        }
        *tick = start;
        return true;
    }
    char* end = nullptr;
    const double quarters = at.empty() ? NAN : std::strtod(at.c_str(), &end);
    if (at.empty() || end == nullptr || *end != '\0' || !std::isfinite(quarters) ||
        quarters < 0.0) {
        *error =
            "--at must be a number of quarter notes from the start (such as 12 or 7.5) or "
            "m and a measure number (such as m5), not '" +
            at + "'";
        return false;
    }
    const int32_t divisions = timing.divisions > 0 ? timing.divisions : 1;
    // The position as it is written, between ticks too: a quarter of a quarter note into a
    // score counted in eighths is half-way through its first eighth, not its start.
    const double ticks = quarters * divisions;
    if (ticks >= static_cast<double>(timing.endTick)) {
        char length[64];
        std::snprintf(length, sizeof length, "%g", static_cast<double>(timing.endTick) / divisions);
        *error = "--at " + at + " lies past the end of the score, which is " + length +
                 " quarter notes long";
        return false;
    }
    *tick = ticks;
    return true;
}

bool stillTick(const ScoreTiming& timing, const std::string& at, int32_t* tick,
               std::string* error) {
    double exact = 0.0;
    if (!stillPosition(timing, at, &exact, error)) {
        return false;
    }
    *tick = static_cast<int32_t>(std::floor(exact + 1e-9));
    return true;
}

bool checkExportOutput(const ExportRequest& request, bool video, OutputTarget* target,
                       std::string* error) {
    return checkNotScoreName(request.outputPath, video ? "--export" : "--still",
                             video ? kVideoWritten : kPictureWritten, error) &&
           checkOutput(request.outputPath, request.inputs, target, error);
}

int exportVideo(const std::string& document, const ExportRequest& request) {
    const Clock::time_point started = Clock::now();
    lastExportFigures = ExportFigures{};
    const std::string& path = request.outputPath;
    const char* failed = "Could not export";
    OutputTarget target;
    std::string refused;
    if (!checkExportOutput(request, true, &target, &refused)) {
        sayFailure(failed, path, refused);
        return 1;
    }
    if (request.width % 2 != 0 || request.height % 2 != 0) {
        sayFailure(failed, path,
                   "an H.264 video needs an even width and height, not " +
                       std::to_string(request.width) + "x" + std::to_string(request.height));
        return 1;
    }
    std::string error;
    Timeline timeline;
    if (!makeTimeline(document, request, &timeline, &error)) {
        sayFailure(failed, path, error);
        return 1;
    }
    SoundTrack sound;
    if (request.sound && !sound.start(request, timeline, &error)) {
        sayFailure(failed, path, error);
        return 1;
    }
    if (!openPicture(request, &error)) {
        sayFailure(failed, path, error);
        return 1;
    }

    InterruptGuard guard;
    EncoderSettings settings;
    settings.path = target.temporary;
    settings.width = request.width;
    settings.height = request.height;
    settings.fps = request.fps;
    settings.sampleRate = request.sound ? kExportSampleRate : 0;
    if (request.newLook) {
        // Most of the new look's picture is flat colour, which the fastest preset still codes
        // well; it leaves the processor to the drawing.
        settings.preset = kLookPreset;
        settings.threads = kLookEncoderThreads;
    }
    if (!claimTemporary(settings.path, &error)) {
        // Whatever is in the way under the temporary's name is not ours to remove.
        closeHeadless();
        sayFailure(failed, path, "cannot create the file: " + error);
        return 1;
    }
    VideoEncoder* encoder = openEncoder(settings, &error);
    if (encoder == nullptr) {
        discardOutput(settings.path.c_str());
        closeHeadless();
        sayFailure(failed, path, error);
        return 1;
    }

    const long frames =
        std::max(1L, static_cast<long>(std::ceil(timeline.duration * request.fps - 1e-9)));
    const LookPerformance look =
        request.newLook ? lookOf(timeline, document, request) : LookPerformance{};
    Progress progress(frames);

    // The encoding thread: the sound up to the end of each frame goes in beside it, so the file
    // interleaves both tracks closely. Only it touches the encoder until it has finished.
    FramePipe pipe(kPipeBuffers);
    std::string encodeError;
    bool encodeOk = true;
    bool soundFailed = false;            // the synthesis failed: its reason is the error
    std::atomic<bool> abandoned{false};  // the drawing failed: the file is not finished
    std::thread encoding([&] {
        // Named, so that a profile (and the benchmark) tells its processor time apart.
        pthread_setname_np(pthread_self(), "encoding");
        const double encodeThreadStart = threadSeconds();
        size_t soundDone = 0;
        // The sound up to `until` sample frames (clamped to the track), once the track is
        // ready; false with the reason when the synthesis or the encoding failed.
        auto soundUpTo = [&](size_t until) {
            if (!request.sound || !sound.ready()) {
                return true;
            }
            if (!sound.ok()) {
                encodeError = sound.error();
                soundFailed = true;
                return false;
            }
            const std::vector<float>& stereo = sound.stereo();
            until = std::min(until, stereo.size() / 2);
            if (until <= soundDone) {
                return true;
            }
            const bool encoded = encodeSound(encoder, stereo.data() + soundDone * 2,
                                             until - soundDone, &encodeError);
            soundDone = until;
            return encoded;
        };
        long index = 0;
        std::vector<uint8_t> picture;
        for (;;) {
            const Clock::time_point idle = Clock::now();
            if (!pipe.next(&index, &picture)) {
                break;
            }
            lastExportFigures.encodeIdleSeconds += secondsSince(idle);
            const Clock::time_point step = Clock::now();
            encodeOk = soundUpTo(static_cast<size_t>(static_cast<double>(index + 1) *
                                                     kExportSampleRate / request.fps)) &&
                       encodeFrame(encoder, picture.data(), &encodeError, true);
            lastExportFigures.encodeSeconds += secondsSince(step);
            pipe.giveBack(&picture);
            if (!encodeOk) {
                pipe.stop();
                return;
            }
        }
        const Clock::time_point step = Clock::now();
        if (!interrupted && !abandoned) {
            sound.wait();
            encodeOk = soundUpTo(SIZE_MAX) && finishEncoder(encoder, &encodeError);
        }
        lastExportFigures.encodeSeconds += secondsSince(step);
        lastExportFigures.encodeThreadSeconds = threadSeconds() - encodeThreadStart;
    });

    bool ok = true;
    std::vector<uint8_t> pixels;
    const double drawThreadStart = threadSeconds();
    Moment moment;
    for (long i = 0; i < frames && ok; ++i) {
        if (interrupted) {
            error = "interrupted";
            ok = false;
            break;
        }
        Clock::time_point step = Clock::now();
        if (!pipe.take(&pixels)) {
            break;  // the encoder failed; its reason is reported below
        }
        lastExportFigures.waitSeconds += secondsSince(step);
        step = Clock::now();
        computeMoment(request, timeline, look, static_cast<double>(i) / request.fps, &moment);
        const Clock::time_point issue = Clock::now();
        lastExportFigures.pureSeconds += std::chrono::duration<double>(issue - step).count();
        double cpu = threadSeconds();
        drawComputedMoment(request, look, moment);
        lastExportFigures.issueThreadSeconds += threadSeconds() - cpu;
        const Clock::time_point read = Clock::now();
        lastExportFigures.issueSeconds += std::chrono::duration<double>(read - issue).count();
        // The read waits for the raster threads to finish the picture.
        cpu = threadSeconds();
        ok = readHeadlessPixels(&pixels, &error, false);
        lastExportFigures.readThreadSeconds += threadSeconds() - cpu;
        lastExportFigures.readSeconds += secondsSince(read);
        lastExportFigures.drawSeconds += secondsSince(step);
        if (!ok) {
            pipe.giveBack(&pixels);
            break;
        }
        pipe.push(i, &pixels);
        progress.frameDone(i + 1, secondsSince(started));
        if (exportFrameDone != nullptr) {
            exportFrameDone(static_cast<double>(i + 1) / frames);
        }
    }
    lastExportFigures.drawThreadSeconds = threadSeconds() - drawThreadStart;
    abandoned = !ok;
    pipe.close();
    encoding.join();
    bool soundReason = false;
    if (ok && !encodeOk) {
        error = encodeError;
        soundReason = soundFailed;
        ok = false;
    }
    if (ok && interrupted) {
        error = "interrupted";
        ok = false;
    }
    closeEncoder(encoder);
    closeHeadless();
    progress.close();
    if (!ok) {
        discardOutput(settings.path.c_str());
        // A sound that cannot be made is said as it was before any picture was drawn.
        sayFailure(failed, path, soundReason ? error : error + "; nothing was written");
        return 1;
    }
    if (!publishOutput(settings.path, target.path, &error)) {
        sayFailure(failed, path, error);
        return 1;
    }
    lastExportFigures.frames = frames;
    lastExportFigures.videoSeconds = static_cast<double>(frames) / request.fps;
    lastExportFigures.wallSeconds = secondsSince(started);
    std::printf("Wrote %s: %dx%d, %d frames/s, %ld frames, %s\n", path.c_str(), request.width,
                request.height, request.fps, frames,
                clockText(lastExportFigures.videoSeconds).c_str());
    std::fflush(stdout);
    return 0;
}

int exportStill(const std::string& document, const ExportRequest& request) {
    const std::string& path = request.outputPath;
    const char* failed = "Could not save the picture";
    std::string error;
    OutputTarget target;
    if (!checkExportOutput(request, false, &target, &error)) {
        sayFailure(failed, path, error);
        return 1;
    }
    Timeline timeline;
    double exactTick = 0.0;
    if (!makeTimeline(document, request, &timeline, &error) ||
        !stillPosition(timeline.timing, request.at, &exactTick, &error)) {
        sayFailure(failed, path, error);
        return 1;
    }
    const int32_t tick = static_cast<int32_t>(std::floor(exactTick + 1e-9));
    if (tick < timeline.options.fromTick || tick >= timeline.options.toTick) {
        sayFailure(failed, path, "--at " + request.at + " lies outside the measures played");
        return 1;
    }
    if (!openPicture(request, &error)) {
        sayFailure(failed, path, error);
        return 1;
    }
    std::vector<uint8_t> pixels;
    const LookPerformance look =
        request.newLook ? lookOf(timeline, document, request) : LookPerformance{};
    // The video's moment of the position, exactly: the still is the frame an export shows then.
    drawMoment(request, timeline, look, timeOfTick(timeline, exactTick));
    const bool ok = readHeadlessPixels(&pixels, &error) &&
                    writePng(target.path, request.width, request.height, pixels, &error);
    closeHeadless();
    if (!ok) {
        sayFailure(failed, path, error);
        return 1;
    }
    std::printf("Wrote %s: %dx%d, at tick %d\n", path.c_str(), request.width, request.height,
                static_cast<int>(tick));
    std::fflush(stdout);
    return 0;
}
