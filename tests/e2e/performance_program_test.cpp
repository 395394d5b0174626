// The built program's performance of scores with dynamics and pedal marks: --export-midi of
// small pieces of our own, each read back and checked against the velocities and pedal moves
// written out by hand from the marks, and the practice options on the command line.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
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
    args.push_back(score[0] == '/' ? score : kData + score);
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

namespace {
// Ranks 1..n, ties sharing their mean rank.
std::vector<double> ranks(const std::vector<double>& values) {
    std::vector<size_t> order(values.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return values[a] < values[b]; });
    std::vector<double> rank(values.size());
    for (size_t i = 0; i < order.size();) {
        size_t j = i;
        while (j + 1 < order.size() && values[order[j + 1]] == values[order[i]]) {
            ++j;
        }
        for (size_t k = i; k <= j; ++k) {
            rank[order[k]] = (i + j) / 2.0 + 1.0;
        }
        i = j + 1;
    }
    return rank;
}

// Spearman's rank correlation: Pearson's over the ranks (ties averaged).
double spearman(const std::vector<double>& a, const std::vector<double>& b) {
    const std::vector<double> x = ranks(a);
    const std::vector<double> y = ranks(b);
    const double n = static_cast<double>(x.size());
    double mx = 0, my = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        mx += x[i] / n;
        my += y[i] / n;
    }
    double sxy = 0, sxx = 0, syy = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        sxy += (x[i] - mx) * (y[i] - my);
        sxx += (x[i] - mx) * (x[i] - mx);
        syy += (y[i] - my) * (y[i] - my);
    }
    return sxx > 0 && syy > 0 ? sxy / std::sqrt(sxx * syy) : 0.0;
}

Piece readBack(const std::string& path) {
    Piece piece;
    MidiReadReport report;
    std::string error;
    EXPECT_TRUE(readMidi(slurpFile(path), MidiReadOptions{}, &piece, &report, &error))
        << path << ": " << error;
    return piece;
}

struct Comparison {
    size_t matched = 0;
    size_t ours = 0;
    double rho = 0.0;
};

// Our velocities beside another file's, note by note (same key, onsets within a 64th note).
Comparison compare(const Piece& ours, const Piece& theirs) {
    const Velocities a = velocitiesOf(ours);
    const Velocities b = velocitiesOf(theirs);
    std::vector<double> x, y;
    for (const auto& [at, velocity] : a) {
        auto it = b.lower_bound({at.first - 1.0 / 16, 0});
        for (; it != b.end() && it->first.first <= at.first + 1.0 / 16; ++it) {
            if (it->first.second == at.second) {
                x.push_back(velocity);
                y.push_back(it->second);
                break;
            }
        }
    }
    return {x.size(), a.size(), spearman(x, y)};
}

// Quarter notes of each press of the pedal (up to down).
std::vector<double> presses(const Piece& piece) {
    std::vector<double> at;
    int value = 0;
    for (const PiecePedal& p : piece.pedal) {
        if (p.value > 0 && value == 0) {
            at.push_back(static_cast<double>(p.tick) / piece.divisions);
        }
        value = p.value;
    }
    return at;
}
}  // namespace

// Each staff with marks of its own: the right hand follows the right staff's marks, the left
// the left's; wedges closed by the marks after them; the pedal in its sign form. Then our
// velocities beside musescore3's own playback of the same scores (tools/dynamics_material.py):
// they must rise and fall together where both read the marks alike (the staff-by-staff piece is
// played by musescore with every mark for both staves, so it is only reported), and our
// reading of musescore's own export of each piece must play as our reading of the piece.
TEST(PerformanceProgram, StaffDynamicsAndANotationProgramsPlayback) {
    const Piece staves = exported("staff_dynamics.xml");
    const Velocities v = velocitiesOf(staves);
    auto at = [&](double quarter, int key) {
        auto it = v.find({quarter, key});
        return it == v.end() ? -1 : it->second;
    };
    // Right hand (C5 = 72 up): pp, a crescendo over measure 2 to the ff of measure 3.
    EXPECT_EQ(at(0, 72), 35);
    EXPECT_EQ(at(4, 74), 35);
    EXPECT_EQ(at(6, 81), 73);  // half way: 72.5, rounded
    EXPECT_EQ(at(8, 76), 110);
    // A diminuendo over measure 4 (closed on its last eighth) to the p of measure 5; sfz in
    // measure 6 over p, and p again on the next eighth.
    EXPECT_EQ(at(14, 84), 76);  // 110 - 60 * 2 / 3.5
    EXPECT_EQ(at(16, 79), 50);
    EXPECT_EQ(at(21, 79), 50);
    EXPECT_EQ(at(22, 83), 105);
    EXPECT_EQ(at(22.5, 84), 50);
    // Measure 8: f, accents lift by 15.
    EXPECT_EQ(at(28, 72), 95);
    EXPECT_EQ(at(29, 76), 110);
    // Left hand (C3 = 48 up): mf, p from measure 3, a crescendo over measure 5 to the f of 6.
    EXPECT_EQ(at(0, 48), 80);
    EXPECT_EQ(at(8, 52), 50);
    EXPECT_EQ(at(16, 55), 50);
    EXPECT_EQ(at(17, 57), 61);  // 50 + 45 / 4
    EXPECT_EQ(at(18, 59), 73);  // half way: 72.5, rounded
    EXPECT_EQ(at(20, 52), 95);
    EXPECT_EQ(at(24, 50), 35);
    EXPECT_EQ(at(28, 48), 110);
    const std::vector<double> pressed = {0, 8, 16, 28};
    EXPECT_EQ(presses(staves), pressed);

    const std::string data = kData;
    for (const char* name : {"dynamics_marks", "staff_dynamics", "OrlundePianoSonata"}) {
        const bool sonata = std::string(name) == "OrlundePianoSonata";
        const std::string score =
            sonata ? QUORVEL_SOURCE_DIR "/debug/OrlundePianoSonata.xml" : data + name + ".xml";
        const Piece ours = exported(score);
        const Piece theirs = readBack(data + name + ".mid");
        const Comparison c = compare(ours, theirs);
        std::printf(
            "%s: %zu of our %zu notes matched in musescore3's playback, Spearman %.3f; "
            "pedal presses ours %zu, musescore3's %zu\n",
            name, c.matched, c.ours, c.rho, presses(ours).size(), presses(theirs).size());
        std::fflush(stdout);
        // Every note of ours has its partner (the sonata's few ornaments aside).
        EXPECT_GE(c.matched * 100, c.ours * 99) << name;
        if (std::string(name) != "staff_dynamics") {
            EXPECT_GT(c.rho, 0.8) << name;
        }
        if (!sonata) {
            const Piece again = exported(std::string(name) + "_export.mxl");
            const Comparison same = compare(ours, again);
            std::printf("%s: our reading of musescore3's export, Spearman %.3f against the score\n",
                        name, same.rho);
            std::fflush(stdout);
            EXPECT_EQ(same.matched, same.ours) << name;
            EXPECT_GT(same.rho, 0.95) << name;
            std::printf("%s: pedal presses in our reading of its export %zu\n", name,
                        presses(again).size());
            std::fflush(stdout);
            if (std::string(name) == "staff_dynamics") {
                // musescore3 writes the pedal signs out as it read them (a change or an offset
                // it does not keep).
                EXPECT_EQ(presses(again), presses(ours)) << name;
            }
        }
    }
}

// The practice options are listed, and each misuse is one line and status 1 before any work.
TEST(PerformanceProgram, PracticeOptionsAreListedAndMisusesRefused) {
    const ProgramRun help = runProgramWith(QUORVEL_EXE, {"--help"}, kGuard);
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--hand", "--loop", "--metronome"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    const std::string score = kData + "dynamics_marks.xml";
    const std::string out = folder() + "refused.mp4";
    const std::vector<std::vector<std::string>> refused = {
        {"--play", "--hand", "middle", score},
        {"--export", out, "--loop", score},
        {"--metronome", score},
        {"--hand", "left", score},
        {"--export-midi", folder() + "refused.mid", "--hand", "right", score},
    };
    for (const std::vector<std::string>& args : refused) {
        const ProgramRun run = runProgramWith(QUORVEL_EXE, args, kGuard);
        EXPECT_EQ(run.status, 1) << args[0] << " " << args[1];
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(folder() + "refused.mid"));
}
