// The built program on MIDI files: the performance of a notation program's MusicXML written as
// MIDI against that program's own MIDI of the same score, MIDI in then out, a still of a MIDI
// file, bad files, and the writers' rule for the file written.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/midi_notes.h"
#include "support/program_run.h"

namespace {
namespace fs = std::filesystem;

const std::string kReal = QUORVEL_SOURCE_DIR "/tests/data/real/";
constexpr auto kGuard = std::chrono::seconds(120);
const char* const kPieces[] = {"chords", "clefchange", "divisions", "pickup",   "scales",
                               "ties",   "tuplets",    "twoparts",  "twovoices"};

ProgramRun quorvel(const std::vector<std::string>& args) {
    return runProgramWith(QUORVEL_EXE, args, kGuard);
}

std::string folder() {
    const std::string path = ::testing::TempDir() + "quorvel_midi_e2e_" + std::to_string(getpid());
    fs::create_directories(path);
    return path + "/";
}

struct Timed {
    int key;
    double onset;  // seconds
    double end;
    int track;
};

// A file's notes in seconds at its first tempo (these pieces keep one tempo), by onset and key.
std::vector<Timed> timedNotes(const std::string& path) {
    const MidiFile midi = readMidiFile(path);
    EXPECT_TRUE(midi.error.empty()) << path << ": " << midi.error;
    std::vector<Timed> notes;
    for (const MidiNote& note : midi.notes) {
        const double second = 60.0 / midi.quartersPerMinute;
        notes.push_back({note.key, note.onset * second, note.end * second, note.track});
    }
    std::sort(notes.begin(), notes.end(), [](const Timed& a, const Timed& b) {
        return a.onset != b.onset ? a.onset < b.onset : a.key < b.key;
    });
    return notes;
}

// Lines of standard error that report a failure (the others say how the hands were found).
long failureLines(const std::string& err) {
    long count = 0;
    for (size_t at = err.find("Could not"); at != std::string::npos;
         at = err.find("Could not", at + 1)) {
        ++count;
    }
    return count;
}

// True when nothing but `keep` is left in the folder (no temporary of a failed write).
bool onlyHolds(const std::string& dir, const std::vector<std::string>& keep) {
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (std::find(keep.begin(), keep.end(), name) == keep.end()) {
            ADD_FAILURE() << "left behind: " << name;
            return false;
        }
    }
    return true;
}
}  // namespace

// The notation program plays its notes a little short of their written length (one tick of its
// 480 a quarter note); everything else must agree within a millisecond.
TEST(MidiProgram, ExportOfTheMusicXmlPlaysTheNotationProgramsNotes) {
    const std::string dir = folder();
    for (const char* piece : kPieces) {
        const std::string out = dir + piece + ".mid";
        const ProgramRun run =
            quorvel({"--export-midi", out, "--prepare", kReal + piece + ".musicxml"});
        ASSERT_TRUE(run.ended && run.status == 0) << piece << ": " << run.err;
        const std::vector<Timed> ours = timedNotes(out);
        const std::vector<Timed> theirs = timedNotes(kReal + piece + ".mid");
        ASSERT_EQ(ours.size(), theirs.size()) << piece;
        const double tick = 0.5 / 480.0;  // one of their ticks at 120 quarter notes a minute
        for (size_t i = 0; i < ours.size(); ++i) {
            EXPECT_EQ(ours[i].key, theirs[i].key) << piece << " note " << i;
            EXPECT_NEAR(ours[i].onset, theirs[i].onset, 0.001) << piece << " note " << i;
            EXPECT_NEAR(ours[i].end, theirs[i].end + tick, 0.001) << piece << " note " << i;
            // The right hand's track comes first, as the notation program writes its staves.
            EXPECT_EQ(ours[i].track, theirs[i].track) << piece << " note " << i;
        }
        std::remove(out.c_str());
    }
}

TEST(MidiProgram, MidiInThenOutIsTheIdentity) {
    const std::string dir = folder();
    for (const char* piece : kPieces) {
        const std::string once = dir + piece + "_once.mid";
        const std::string twice = dir + piece + "_twice.mid";
        ProgramRun run = quorvel({"--export-midi", once, kReal + piece + ".mid"});
        ASSERT_TRUE(run.ended && run.status == 0) << piece << ": " << run.err;
        EXPECT_NE(run.out.find("Loading MIDI file...\nFile : " + kReal + piece + ".mid\n"),
                  std::string::npos)
            << run.out;
        run = quorvel({"--export-midi", twice, once});
        ASSERT_TRUE(run.ended && run.status == 0) << piece << ": " << run.err;
        EXPECT_EQ(slurpFile(once), slurpFile(twice)) << piece;
        const std::vector<Timed> source = timedNotes(kReal + piece + ".mid");
        const std::vector<Timed> written = timedNotes(once);
        ASSERT_EQ(written.size(), source.size()) << piece;
        for (size_t i = 0; i < source.size(); ++i) {
            EXPECT_EQ(written[i].key, source[i].key);
            EXPECT_NEAR(written[i].onset, source[i].onset, 1e-9);
            EXPECT_NEAR(written[i].end, source[i].end, 1e-9);
            EXPECT_EQ(written[i].track, source[i].track);
        }
        std::remove(once.c_str());
        std::remove(twice.c_str());
    }
}

TEST(MidiProgram, AStillOfAMidiFileAndBadFilesEndWithOneLine) {
    const std::string dir = folder();
    const std::string png = dir + "still.png";
    ProgramRun run = quorvel(
        {"--still", png, "--at", "m2", "--size", "320x180", "--from", "2", kReal + "scales.mid"});
    ASSERT_TRUE(run.ended) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(slurpFile(png).substr(1, 3), "PNG");
    std::remove(png.c_str());

    const std::string whole = slurpFile(kReal + "chords.mid");
    const std::string cut = dir + "cut.mid";
    std::ofstream(cut, std::ios::binary) << whole.substr(0, whole.size() / 2);
    const std::string textual = dir + "text.midi";
    std::ofstream(textual) << "not music\n";
    for (const std::string& bad : {cut, textual}) {
        for (const std::vector<std::string>& mode :
             {std::vector<std::string>{"--export-midi", dir + "out.mid"},
              std::vector<std::string>{"--realtime", "--mute"},
              std::vector<std::string>{"--still", dir + "out.png", "--at", "0"}}) {
            std::vector<std::string> args = mode;
            args.push_back(bad);
            run = quorvel(args);
            ASSERT_TRUE(run.ended) << bad;
            EXPECT_EQ(run.status, 1) << bad << " " << mode[0];
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
            EXPECT_EQ(run.err.rfind("Could not load the MIDI file ", 0), 0u) << run.err;
        }
    }
    run = quorvel({"--export-midi", dir + "out.mid", "--from", "2", kReal + "chords.mid"});
    EXPECT_EQ(run.status, 1);
    run = quorvel({"--export-midi", dir + "out.mid", "--split", "H9", kReal + "chords.mid"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("--split must be a key"), std::string::npos) << run.err;
    run = quorvel({"--export-midi", dir + "out.mid", "--split", "C4", kReal + "chords.musicxml"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("--split goes with a MIDI file"), std::string::npos) << run.err;
    std::remove(cut.c_str());
    std::remove(textual.c_str());
    EXPECT_TRUE(onlyHolds(dir, {}));
}

TEST(MidiProgram, TheMidiWriterNeverDestroysAUsersFile) {
    const std::string dir = folder();
    const std::string score = dir + "score.mid";
    fs::copy_file(kReal + "chords.mid", score);
    const std::string original = slurpFile(score);
    fs::create_symlink(score, dir + "link.mid");
    fs::create_hard_link(score, dir + "hard.mid");
    fs::create_directory(dir + "folder.mid");
    ASSERT_EQ(mkfifo((dir + "pipe.mid").c_str(), 0600), 0);
    for (const std::string& target :
         {score, dir + "link.mid", dir + "hard.mid", dir + "folder.mid", dir + "pipe.mid"}) {
        const ProgramRun run = quorvel({"--export-midi", target, score});
        ASSERT_TRUE(run.ended);
        EXPECT_EQ(run.status, 1) << target;
        EXPECT_EQ(failureLines(run.err), 1) << run.err;
        EXPECT_NE(run.err.find("nothing was written"), std::string::npos) << run.err;
    }
    EXPECT_EQ(slurpFile(score), original);
    EXPECT_TRUE(fs::is_symlink(dir + "link.mid"));

    // Through a link: the file it names is replaced, the link stays.
    const std::string old = dir + "old.mid";
    std::ofstream(old) << "an older take";
    fs::create_symlink("old.mid", dir + "take.mid");
    ProgramRun run = quorvel({"--export-midi", dir + "take.mid", kReal + "scales.mid"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(dir + "take.mid"));
    EXPECT_EQ(slurpFile(old).substr(0, 4), "MThd");
    // Into a folder that does not exist: one line, nothing written.
    run = quorvel({"--export-midi", dir + "missing/out.mid", kReal + "scales.mid"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(failureLines(run.err), 1) << run.err;
    EXPECT_NE(run.err.find("No such file or directory"), std::string::npos) << run.err;
    EXPECT_TRUE(onlyHolds(dir, {"score.mid", "link.mid", "hard.mid", "folder.mid", "pipe.mid",
                                "old.mid", "take.mid"}));
    fs::remove_all(dir);
}
