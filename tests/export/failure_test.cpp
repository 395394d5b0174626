// Failures of the exporter: each gets one line on standard error, status 1, and leaves no file
// behind, whether it is a bad request, a full disk, an interrupt or any single failing call into
// EGL, libpng, FFmpeg or the file system.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <string>

#include "export/export.h"
#include "export/faults.h"
#include "export_fixture.h"

using namespace export_test;

namespace {
// Set in the environment of a copy of this program that runs one export and exits with its
// status; the value says which.
constexpr const char* kChildVariable = "QUORVEL_EXPORT_CHILD";

ExportRequest smallVideo(const std::string& path) {
    ExportRequest request;
    request.outputPath = path;
    request.width = 64;
    request.height = 36;
    request.fps = 1;
    // One measure at four times the speed: a second of notes between the lead-in and lead-out.
    request.fromMeasure = "1";
    request.toMeasure = "1";
    request.speed = 4.0;
    return request;
}

ExportRequest smallStill(const std::string& path) {
    ExportRequest request = smallVideo(path);
    request.at = "1.5";
    return request;
}

// The lines of a text.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Standard error of a failed export holds exactly one line, the failure, beside any progress
// lines; returns it.
std::string failureLine(const std::string& err) {
    std::string failure;
    int count = 0;
    for (const std::string& line : linesOf(err)) {
        if (line.rfind("Exporting:", 0) == 0) {
            continue;
        }
        failure = line;
        ++count;
    }
    EXPECT_EQ(count, 1) << err;
    return failure;
}

// Runs an export or a still in this process and returns its status and its failure line.
int exportHere(bool still, const ExportRequest& request, std::string* line) {
    testing::internal::CaptureStderr();
    const std::string document = oneNoteASecond();
    const int status = still ? exportStill(document, request) : exportVideo(document, request);
    const std::string err = testing::internal::GetCapturedStderr();
    *line = status == 0 ? "" : failureLine(err);
    return status;
}

// Loops the fault hook over the fallible calls of one export: the N-th call fails in a fresh
// process. Every failure must be status 1, one line, and an empty folder; with N one past the
// last call the export gets through. A video makes a few calls per frame and per block of
// sound, so past the first calls (the context, the framebuffer, the encoders, the file's start)
// it tries every thirteenth, and every one of the last calls (the file's end and its rename).
void everyFailingCallIsClean(const char* kind, const char* message) {
    const std::string folder = makeFolder();
    const std::string err = folder + ".err";
    auto run = [&](long n) {
        return runSelf("ExportFaults.Child", kChildVariable,
                       std::string(kind) + " " + folder + " " + std::to_string(n), err);
    };
    // A run without a failure counts the calls.
    ASSERT_EQ(run(0), 0) << slurp(err);
    long calls = 0;
    const std::string counted = slurp(err);
    const size_t at = counted.find("calls ");
    ASSERT_NE(at, std::string::npos) << counted;
    calls = std::atol(counted.c_str() + at + 6);
    removeFolder(folder);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    long tried = 0;
    for (long n = 1; n <= calls; n += (n < 40 || n > calls - 25) ? 1 : 13) {
        ++tried;
        const int status = run(n);
        const std::string text = slurp(err);
        ASSERT_EQ(status, 1) << kind << ", call " << n << " failing: " << text;
        EXPECT_EQ(failureLine(text).rfind(message, 0), 0u) << text;
        EXPECT_TRUE(folderEntries(folder).empty()) << kind << ", call " << n << " left a file";
    }
    EXPECT_EQ(run(calls + 1), 0) << slurp(err);
    EXPECT_EQ(folderEntries(folder).size(), 1u) << kind << ": the file, alone";
    std::remove(err.c_str());
    removeFolder(folder);
    EXPECT_GT(tried, 8) << kind;
}
}  // namespace

// What a copy of this program does: "video|still|fsize FOLDER N" in the environment.
TEST(ExportFaults, Child) {
    const char* child = std::getenv(kChildVariable);
    if (child == nullptr) {
        GTEST_SKIP() << "runs only as a copy started by the tests below";
    }
    char kind[16] = {0};
    char folder[256] = {0};
    long n = 0;
    ASSERT_EQ(std::sscanf(child, "%15s %255s %ld", kind, folder, &n), 3);
    const std::string document = oneNoteASecond();
    ASSERT_TRUE(loadAndPlan(document));
    const std::string path = std::string(folder) + "/out";
    if (std::string(kind) == "fsize") {
        // Files may grow to n bytes; a write past that fails as on a full disk.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = {static_cast<rlim_t>(n), static_cast<rlim_t>(n)};
        setrlimit(RLIMIT_FSIZE, &limit);
        ExportRequest request = smallVideo(path + ".mp4");
        request.width = 320;
        request.height = 180;
        std::exit(exportVideo(document, request));
    }
    exportFailCallNumber = n;
    const int status = std::string(kind) == "still"
                           ? exportStill(document, smallStill(path + ".png"))
                           : exportVideo(document, smallVideo(path + ".mp4"));
    if (status == 0) {
        std::fprintf(stderr, "calls %ld\n", exportCallsMade);
    }
    std::exit(status);
}

TEST(ExportFaults, EveryFailingCallOfAVideoIsClean) {
    everyFailingCallIsClean("video", "Could not export ");
}

TEST(ExportFaults, EveryFailingCallOfAStillIsClean) {
    everyFailingCallIsClean("still", "Could not save the picture ");
}

TEST(ExportFailure, OutputInAMissingFolder) {
    ASSERT_TRUE(loadAndPlan(oneNoteASecond()));
    const std::string folder = makeFolder();
    std::string line;
    EXPECT_EQ(exportHere(false, smallVideo(folder + "/missing/out.mp4"), &line), 1);
    EXPECT_EQ(line, "Could not export " + folder +
                        "/missing/out.mp4: cannot create the file: No such file or directory");
    EXPECT_EQ(exportHere(true, smallStill(folder + "/missing/out.png"), &line), 1);
    EXPECT_EQ(line, "Could not save the picture " + folder +
                        "/missing/out.png: No such file or directory");
    EXPECT_TRUE(folderEntries(folder).empty());
    removeFolder(folder);
}

TEST(ExportFailure, BadRequestsSayWhy) {
    ASSERT_TRUE(loadAndPlan(oneNoteASecond()));
    const std::string folder = makeFolder();
    const std::string path = folder + "/out.mp4";
    std::string line;
    ExportRequest odd = smallVideo(path);
    odd.width = 65;
    EXPECT_EQ(exportHere(false, odd, &line), 1);
    EXPECT_EQ(line, "Could not export " + path +
                        ": an H.264 video needs an even width and height, not 65x36");
    ExportRequest measure = smallVideo(path);
    measure.toMeasure = "9";
    EXPECT_EQ(exportHere(false, measure, &line), 1);
    EXPECT_EQ(line, "Could not export " + path + ": the score has no measure \"9\"");
    ExportRequest font = smallVideo(path);
    font.soundfont = folder + "/none.sf2";
    EXPECT_EQ(exportHere(false, font, &line), 1);
    EXPECT_EQ(line.rfind("Could not export " + path + ": ", 0), 0u) << line;
    const std::string png = folder + "/out.png";
    for (const char* at : {"", "x", "-1", "nan", "m", "m7", "16", "1e9"}) {
        ExportRequest still = smallStill(png);
        still.toMeasure = "";
        still.at = at;
        EXPECT_EQ(exportHere(true, still, &line), 1) << at;
        EXPECT_EQ(line.rfind("Could not save the picture " + png + ": ", 0), 0u) << line;
    }
    // Inside the score but outside the measures played.
    ExportRequest outside = smallStill(png);
    outside.at = "m2";
    EXPECT_EQ(exportHere(true, outside, &line), 1);
    EXPECT_EQ(line,
              "Could not save the picture " + png + ": --at m2 lies outside the measures played");
    EXPECT_TRUE(folderEntries(folder).empty());
    removeFolder(folder);
}

TEST(ExportFailure, InterruptStopsAndLeavesNothing) {
    ASSERT_TRUE(loadAndPlan(oneNoteASecond()));
    const std::string folder = makeFolder();
    ExportRequest request = smallVideo(folder + "/out.mp4");
    request.fps = 10;
    static int framesSeen = 0;
    framesSeen = 0;
    // Ctrl-C a third of the way through, as the terminal would send it.
    exportFrameDone = [](double fraction) {
        ++framesSeen;
        if (fraction >= 0.33 && fraction < 0.34 + 0.1) {
            std::raise(SIGINT);
        }
    };
    std::string line;
    const int status = exportHere(false, request, &line);
    exportFrameDone = nullptr;
    EXPECT_EQ(status, 1);
    EXPECT_EQ(line,
              "Could not export " + request.outputPath + ": interrupted; nothing was written");
    EXPECT_TRUE(folderEntries(folder).empty());
    EXPECT_LT(framesSeen, 40) << "the export went on after the interrupt";
    // The previous handler is back: the program's own Ctrl-C behaviour is untouched.
    struct sigaction now {};
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
    removeFolder(folder);
}

TEST(ExportFailure, FullDiskLeavesNothing) {
    // A file size limit: writes past it fail as on a full disk, for any user.
    const std::string folder = makeFolder();
    const std::string err = folder + ".err";
    const int status =
        runSelf("ExportFaults.Child", kChildVariable, "fsize " + folder + " 20000", err);
    EXPECT_EQ(status, 1);
    const std::string line = failureLine(slurp(err));
    EXPECT_EQ(line.rfind("Could not export " + folder + "/out.mp4: ", 0), 0u) << line;
    EXPECT_NE(line.find("File too large"), std::string::npos) << line;
    EXPECT_TRUE(folderEntries(folder).empty());
    std::remove(err.c_str());

    // A real full file system, when this user may mount a small one.
    if (mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0) {
        removeFolder(folder);
        GTEST_SKIP() << "cannot mount a small file system here; the size limit above stood in";
    }
    ASSERT_TRUE(loadAndPlan(oneNoteASecond()));
    // Fill it but for a few blocks: too little for a video or a picture.
    const std::string filler = folder + "/filler";
    if (FILE* file = std::fopen(filler.c_str(), "wb")) {
        std::vector<char> block(1024, 'x');
        while (std::fwrite(block.data(), 1, block.size(), file) == block.size()) {
        }
        std::fclose(file);
    }
    truncate(filler.c_str(), 60 * 1024);
    std::string reason;
    ExportRequest video = smallVideo(folder + "/out.mp4");
    video.width = 320;
    video.height = 180;
    EXPECT_EQ(exportHere(false, video, &reason), 1);
    EXPECT_NE(reason.find("No space left on device"), std::string::npos) << reason;
    ExportRequest still = smallStill(folder + "/out.png");
    still.width = 640;
    still.height = 360;
    EXPECT_EQ(exportHere(true, still, &reason), 1);
    EXPECT_NE(reason.find("No space left on device"), std::string::npos) << reason;
    EXPECT_EQ(folderEntries(folder), std::vector<std::string>{"filler"});
    umount(folder.c_str());
    removeFolder(folder);
}
