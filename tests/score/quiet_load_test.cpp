// The reader called with a path, and called quietly: a path load prints and fills exactly what the
// command-line load prints and fills, and a quiet load fills the same grids and sets the same
// failure reason while printing nothing on standard output, on real exports, the bundled score
// and broken documents alike.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "score/score_support.h"

namespace {
struct Loaded {
    int result = 0;
    Captured output;
    std::vector<std::vector<int>> grid;  // per tick and hand, the keys and last-tick marks
    int32_t total = 0;
    std::string error;
};

Loaded snapshot(int result, const Captured& output) {
    Loaded loaded;
    loaded.result = result;
    loaded.output = output;
    for (const std::vector<NoteEvent>* hand : {&rightNotes, &leftNotes}) {
        for (const NoteEvent& event : *hand) {
            std::vector<int> record = keysOf(event);
            const std::vector<int> last = lastTicksOf(event);
            record.insert(record.end(), last.begin(), last.end());
            loaded.grid.push_back(record);
        }
    }
    loaded.total = currentTick;
    loaded.error = lastLoadError;
    return loaded;
}

Loaded byCommandLine(const std::string& path) {
    const LoadRun run = loadPath(path);
    return snapshot(run.result, run.output);
}

Loaded byPath(const std::string& path, bool quiet) {
    resetModel();
    int result = 0;
    const Captured output =
        capture([&] { result = loadScoreFile(path.c_str(), path.c_str(), quiet); });
    return snapshot(result, output);
}

Loaded fromMemory(const std::string& bytes, bool quiet) {
    resetModel();
    int result = 0;
    const Captured output =
        capture([&] { result = loadScoreFromBuffer(bytes.data(), bytes.size(), nullptr, quiet); });
    return snapshot(result, output);
}

std::string bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
}  // namespace

TEST(QuietLoad, PathAndQuietLoadsFillWhatTheCommandLineLoadFills) {
    std::vector<std::string> files = {"../debug/OrlundePianoSonata.xml"};
    for (const auto& entry : std::filesystem::directory_iterator("data/real")) {
        if (entry.path().extension() == ".musicxml") {
            files.push_back(entry.path().string());
        }
    }
    files.push_back(writeTemp("quiet_broken.xml", "<score-partwise><part-list>"));
    files.push_back(writeTemp("quiet_no_piano.xml", scoreXml("", pianoPartList("Violin"))));
    files.push_back("no/such/score.xml");
    std::sort(files.begin(), files.end());
    size_t loadedFiles = 0;
    size_t refusedFiles = 0;
    for (const std::string& path : files) {
        const Loaded classic = byCommandLine(path);
        const Loaded loud = byPath(path, false);
        EXPECT_EQ(loud.result, classic.result) << path;
        EXPECT_EQ(loud.output.out, classic.output.out) << path;
        EXPECT_EQ(loud.output.err, classic.output.err) << path;
        EXPECT_EQ(loud.grid, classic.grid) << path;
        EXPECT_EQ(loud.total, classic.total) << path;

        const Loaded quiet = byPath(path, true);
        EXPECT_EQ(quiet.result, classic.result) << path;
        EXPECT_EQ(quiet.output.out, "") << path;
        EXPECT_EQ(quiet.output.err, classic.output.err) << path;
        EXPECT_EQ(quiet.grid, classic.grid) << path;
        EXPECT_EQ(quiet.error, classic.error) << path;

        if (std::filesystem::exists(path)) {
            const Loaded memory = fromMemory(bytesOf(path), true);
            EXPECT_EQ(memory.result, classic.result) << path;
            EXPECT_EQ(memory.output.out, "") << path;
            EXPECT_EQ(memory.grid, classic.grid) << path;
        }
        (classic.result == 0 ? loadedFiles : refusedFiles) += 1;
    }
    // A quiet load leaves the next load as loud as ever.
    const Loaded after = byPath(files.front(), false);
    EXPECT_NE(after.output.out, "");
    EXPECT_GE(loadedFiles, 8u);
    EXPECT_GE(refusedFiles, 3u);
}
