// The built program's performance of scores with dynamics and pedal marks: --export-midi of
// small pieces of our own, each read back and checked against the velocities and pedal moves
// written out by hand from the marks, and the practice options on the command line.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "midi/midi_file.h"
#include "support/program_run.h"

namespace {
namespace fs = std::filesystem;

const std::string kData = QUORVEL_SOURCE_DIR "/tests/data/performance/";
constexpr auto kGuard = std::chrono::seconds(120);

std::string folder() {
    const std::string path = ::testing::TempDir() + "quorvel_perf_e2e_" + std::to_string(getpid());
    fs::create_directories(path);
    return path + "/";
}

// The performance of `score` as --export-midi writes it, read back.
Piece exported(const std::string& score, const std::vector<std::string>& extra = {}) {
    const std::string out = folder() + fs::path(score).stem().string() + ".mid";
    std::vector<std::string> args = {"--export-midi", out, "--prepare"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(kData + score);
    const ProgramRun run = runProgramWith(QUORVEL_EXE, args, kGuard);
    EXPECT_EQ(run.status, 0) << run.err;
    Piece piece;
    MidiReadReport report;
    std::string error;
    EXPECT_TRUE(readMidi(slurpFile(out), MidiReadOptions{}, &piece, &report, &error)) << error;
    return piece;
}

// (quarter notes from the start, MIDI note) -> velocity.
using Velocities = std::map<std::pair<double, int>, int>;

Velocities velocitiesOf(const Piece& piece) {
    Velocities v;
    for (const PieceNote& n : piece.notes) {
        v[{static_cast<double>(n.tick) / piece.divisions, n.key + 21}] = n.velocity;
    }
    return v;
}

std::vector<std::pair<double, int>> pedalOf(const Piece& piece) {
    std::vector<std::pair<double, int>> moves;
    for (const PiecePedal& p : piece.pedal) {
        moves.emplace_back(static_cast<double>(p.tick) / piece.divisions, p.value);
    }
    return moves;
}
}  // namespace

// p, a crescendo to f, accents, sfz, fp, a diminuendo without a closing mark, a note's own
// dynamics; the left hand has no marks of its own and follows the right hand's staff. The pedal
// goes down, changes, lifts at an offset, and moves by <sound damper-pedal>.
TEST(PerformanceProgram, DynamicsAndPedalOfOneStaffAsWrittenOut) {
    const Piece piece = exported("dynamics_marks.xml");
    const Velocities expected = {
        // measure 1: p; the last note states dynamics="100" (90)
        {{0, 72}, 50},
        {{1, 74}, 50},
        {{2, 76}, 50},
        {{3, 77}, 90},
        {{0, 48}, 50},
        // measure 2: crescendo from p over the measure, closed by the f after it
        {{4, 79}, 50},
        {{5, 81}, 65},
        {{6, 83}, 80},
        {{7, 84}, 95},
        {{4, 48}, 50},
        {{6, 43}, 80},
        // measure 3: f; a strong accent (+30), sfz over f (f + 15), an accent (+15)
        {{8, 79}, 95},
        {{9, 81}, 125},
        {{10, 83}, 110},
        {{11, 84}, 110},
        {{8, 48}, 95},
        // measure 4: fp, then p; a diminuendo with no mark after it falls one step
        {{12, 79}, 95},
        {{13, 81}, 50},
        {{14, 83}, 50},
        {{15, 84}, 35},
        {{12, 48}, 95},
    };
    EXPECT_EQ(velocitiesOf(piece), expected);
    const std::vector<std::pair<double, int>> pedal = {{0, 127}, {4, 0},    {4, 127},
                                                       {10, 0},  {12, 127}, {15, 0}};
    EXPECT_EQ(pedalOf(piece), pedal);
}
