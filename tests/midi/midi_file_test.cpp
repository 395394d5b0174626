// MIDI files in and out: musescore3's exports of our real pieces read against an independent
// reading of the same bytes, a file written by hand with every kind of event the reader keeps,
// the way back out (read, write, read again), files the reader must refuse, and the hand planner
// on real two-staff music merged into one track.

#include "midi/midi_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "prepare/container.h"
#include "score/score_model.h"
#include "support/midi_notes.h"
#include "support/smf_bytes.h"

namespace {
std::vector<std::string> realMidiFiles() {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator("data/real")) {
        if (entry.path().extension() == ".mid") {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string bytesOf(const std::string& path) {
    std::string bytes;
    std::string error;
    EXPECT_TRUE(readScoreBytes(path, &bytes, &error)) << error;
    return bytes;
}

bool read(const std::string& bytes, Piece* piece, std::string* error, int split = -1) {
    MidiReadOptions options;
    options.splitKey = split;
    MidiReadReport report;
    return readMidi(bytes, options, piece, &report, error);
}

std::string scratch(const std::string& name) {
    return ::testing::TempDir() + "quorvel_midi_" + std::to_string(getpid()) + "_" + name;
}

// Notes by onset and key, as (key, tick, endTick, hand, velocity).
std::vector<std::vector<int>> noteList(const Piece& piece) {
    std::vector<std::vector<int>> list;
    for (const PieceNote& note : piece.notes) {
        list.push_back({note.tick, note.key, note.endTick, note.hand, note.velocity});
    }
    std::sort(list.begin(), list.end());
    return list;
}

// Written and read back: the same piece.
void expectSameAfterWriting(const Piece& piece, const std::string& name) {
    const std::string path = scratch(name);
    std::string error;
    ASSERT_TRUE(writeMidi(piece, path, &error)) << error;
    Piece again;
    ASSERT_TRUE(read(bytesOf(path), &again, &error)) << name << ": " << error;
    std::remove(path.c_str());
    ASSERT_EQ(noteList(again).size(), noteList(piece).size()) << name;
    // Ticks may be counted more coarsely when the file allows it; compare in quarter notes.
    for (size_t i = 0; i < piece.notes.size(); ++i) {
        const PieceNote& a = piece.notes[i];
        const PieceNote& b = again.notes[i];
        EXPECT_EQ(a.key, b.key) << name << " note " << i;
        EXPECT_EQ(a.hand, b.hand) << name << " note " << i;
        EXPECT_EQ(a.velocity, b.velocity) << name << " note " << i;
        EXPECT_DOUBLE_EQ(double(a.tick) / piece.divisions, double(b.tick) / again.divisions);
        EXPECT_DOUBLE_EQ(double(a.endTick) / piece.divisions, double(b.endTick) / again.divisions);
        EXPECT_NEAR(a.onset, b.onset, 1e-6);
    }
    ASSERT_EQ(again.pedal.size(), piece.pedal.size()) << name;
    for (size_t i = 0; i < piece.pedal.size(); ++i) {
        EXPECT_EQ(again.pedal[i].value, piece.pedal[i].value);
        EXPECT_NEAR(again.pedal[i].seconds, piece.pedal[i].seconds, 1e-6);
    }
    ASSERT_EQ(again.measures.size(), piece.measures.size()) << name;
    for (size_t i = 0; i < piece.measures.size(); ++i) {
        EXPECT_EQ(again.measures[i].beats, piece.measures[i].beats);
        EXPECT_EQ(again.measures[i].beatType, piece.measures[i].beatType);
        EXPECT_NEAR(pieceSeconds(again, again.measures[i].tick),
                    pieceSeconds(piece, piece.measures[i].tick), 1e-6);
    }
}

// A piece in 3/4 then 6/8 whose tempo halves at the second measure, with velocities, the
// pedal, two overlapping notes on middle C, a drum track and hands named in the track names.
std::string handWrittenFile() {
    SmfTrack conductor;
    conductor.name("Study");
    conductor.tempo(0, 500000);
    conductor.tempo(1440, 1000000);
    conductor.signature(0, 3, 2);
    conductor.signature(2880, 6, 3);
    SmfTrack right;
    right.name("Piano RH");
    right.add(0, {0xB0, 64, 127});
    right.note(0, 480, 60, 90);    // middle C, struck again before it is let go ...
    right.note(240, 720, 60, 50);  // ... (the first note-off ends the first note)
    right.note(1440, 1920, 64, 100);
    right.add(1440, {0xB0, 64, 0});
    right.note(2880, 4320, 67, 70);
    SmfTrack left;
    left.name("Piano LH");
    left.note(0, 1440, 48, 60, 1);
    left.note(2880, 4320, 43, 40, 1);
    SmfTrack drums;
    drums.name("Drums");
    drums.note(0, 120, 36, 100, 9);
    drums.note(1440, 1560, 38, 100, 9);
    return smfBytes(1, 480, {conductor, right, left, drums});
}
}  // namespace

TEST(MidiIn, RealExportsGiveTheNotesTimesAndHandsOfTheirTracks) {
    const std::vector<std::string> files = realMidiFiles();
    ASSERT_GE(files.size(), 8u);
    for (const std::string& path : files) {
        const MidiFile independent = readMidiFile(path);
        ASSERT_TRUE(independent.error.empty()) << path << ": " << independent.error;
        Piece piece;
        std::string error;
        ASSERT_TRUE(read(bytesOf(path), &piece, &error)) << path << ": " << error;
        ASSERT_EQ(piece.notes.size(), independent.notes.size()) << path;
        std::vector<MidiNote> expected = independent.notes;
        std::sort(expected.begin(), expected.end(), [](const MidiNote& a, const MidiNote& b) {
            return a.onset != b.onset ? a.onset < b.onset : a.key < b.key;
        });
        std::vector<PieceNote> got = piece.notes;
        std::sort(got.begin(), got.end(), [](const PieceNote& a, const PieceNote& b) {
            return a.tick != b.tick ? a.tick < b.tick : a.key < b.key;
        });
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].key, expected[i].key) << path << " note " << i;
            EXPECT_DOUBLE_EQ(double(got[i].tick) / piece.divisions, expected[i].onset) << path;
            EXPECT_DOUBLE_EQ(double(got[i].endTick) / piece.divisions, expected[i].end) << path;
            EXPECT_NEAR(got[i].onset, expected[i].onset * 60.0 / independent.quartersPerMinute,
                        1e-9);
            // The notation program writes the upper staff first: the right hand.
            EXPECT_EQ(got[i].hand, expected[i].track == 0 ? 0 : 1) << path << " note " << i;
        }
        expectSameAfterWriting(piece, std::filesystem::path(path).filename().string());
    }
}

TEST(MidiIn, KeepsTempoSignaturesVelocitiesPedalAndOverlapsAndNeverPlaysDrums) {
    Piece piece;
    std::string error;
    ASSERT_TRUE(read(handWrittenFile(), &piece, &error)) << error;
    EXPECT_EQ(piece.title, "Study");
    // Every time is a multiple of an eighth: two ticks a quarter note are exact.
    ASSERT_EQ(piece.divisions, 2);
    ASSERT_EQ(piece.tempo.size(), 2u);
    EXPECT_DOUBLE_EQ(piece.tempo[1].quartersPerMinute, 60.0);
    EXPECT_DOUBLE_EQ(pieceSeconds(piece, 6), 1.5);   // end of the first 3/4 measure
    EXPECT_DOUBLE_EQ(pieceSeconds(piece, 12), 4.5);  // three quarters at 60 more
    ASSERT_EQ(piece.measures.size(), 3u);            // 3/4, 3/4, 6/8 (the piece's end)
    EXPECT_EQ(piece.measures[1].tick, 6);
    EXPECT_EQ(piece.measures[2].tick, 12);
    EXPECT_EQ(piece.measures[2].number, "3");
    EXPECT_EQ(piece.measures[2].beats, 6);
    EXPECT_EQ(piece.measures[2].beatType, 8);
    // (tick, key, end, hand, velocity): no drum note, both middle Cs.
    std::vector<std::vector<int>> expected = {{0, 27, 6, 1, 60},   {0, 39, 2, 0, 90},
                                              {1, 39, 3, 0, 50},   {6, 43, 8, 0, 100},
                                              {12, 22, 18, 1, 40}, {12, 46, 18, 0, 70}};
    EXPECT_EQ(noteList(piece), expected);
    ASSERT_EQ(piece.pedal.size(), 2u);
    EXPECT_EQ(piece.pedal[0].value, 127);
    EXPECT_EQ(piece.pedal[1].value, 0);
    EXPECT_DOUBLE_EQ(piece.pedal[1].seconds, 1.5);
    expectSameAfterWriting(piece, "hand_written.mid");

    // In the grids the first middle C is let go where it is struck again, and the grids give back
    // exactly those notes.
    GridReport report;
    fillClassicGrids(piece, &report);
    EXPECT_EQ(divisions, 2);
    EXPECT_EQ(rightNotes.size(), 18u);
    EXPECT_EQ(leftNotes.size(), rightNotes.size());
    ASSERT_FALSE(report.changes.empty());
    EXPECT_NE(report.changes[0].find("1 note let go where its key is struck again"),
              std::string::npos)
        << report.changes[0];
    const Piece back = pieceFromClassicGrids(piece.tempo, piece.measures, false);
    std::vector<std::vector<int>> grid = noteList(back);
    for (std::vector<int>& note : grid) {
        note[4] = 0;  // the grids hold no velocities
    }
    std::vector<std::vector<int>> played = noteList(piece);
    for (std::vector<int>& note : played) {
        note[4] = 0;
        if (note[0] == 0 && note[1] == 39) {
            note[2] = 1;
        }
    }
    EXPECT_EQ(grid, played);
}

TEST(MidiIn, RefusesWhatItCannotPlayWithOneLine) {
    std::string error;
    Piece piece;
    SmfTrack notes;
    notes.note(0, 480, 60, 80);
    SmfTrack drums;
    drums.note(0, 480, 36, 80, 9);
    std::string smpte = smfBytes(0, 480, {notes});
    smpte[12] = static_cast<char>(0xE7);  // 25 frames a second
    smpte[13] = 40;
    const std::vector<std::pair<std::string, std::string>> refused = {
        {smfBytes(2, 480, {notes, notes}), "format 2"},
        {smfBytes(1, 480, {SmfTrack()}), "no notes"},
        {smfBytes(0, 480, {drums}), "drums"},
        {smpte, "SMPTE"},
        {smfBytes(0, 0, {notes}), "zero ticks"},
        {"RIFF....", "no MThd"},
        {"", "no MThd"},
    };
    for (const auto& [bytes, reason] : refused) {
        EXPECT_FALSE(read(bytes, &piece, &error)) << reason;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    // Every cut of a real file and of a hand-written one: refused with one line or read whole,
    // never a crash; a file cut inside its notes is refused.
    for (const std::string& whole : {bytesOf("data/real/chords.mid"), handWrittenFile()}) {
        size_t refusedCuts = 0;
        for (size_t length = 0; length < whole.size(); ++length) {
            error.clear();
            if (!read(whole.substr(0, length), &piece, &error)) {
                ++refusedCuts;
                EXPECT_FALSE(error.empty());
                EXPECT_EQ(error.find('\n'), std::string::npos) << error;
            }
        }
        EXPECT_GE(refusedCuts, whole.size() * 9 / 10);
        EXPECT_FALSE(read(whole.substr(0, whole.size() / 2), &piece, &error));
    }
}

TEST(MidiIn, OneTrackIsSplitIntoHandsByThePlannerOrAtTheKeyGiven) {
    size_t notes = 0;
    size_t right = 0;
    for (const std::string& path : realMidiFiles()) {
        const MidiFile staves = readMidiFile(path);
        SmfTrack merged;
        for (const MidiNote& note : staves.notes) {
            merged.note(static_cast<uint32_t>(note.onset * 480 + 0.5),
                        static_cast<uint32_t>(note.end * 480 + 0.5), note.key + 21, 80);
        }
        Piece piece;
        std::string error;
        ASSERT_TRUE(read(smfBytes(0, 480, {merged}), &piece, &error)) << error;
        size_t fileRight = 0;
        std::vector<MidiNote> expected = staves.notes;
        for (const MidiNote& note : expected) {
            const auto found =
                std::find_if(piece.notes.begin(), piece.notes.end(), [&](const PieceNote& p) {
                    return p.key == note.key && p.tick == std::lround(note.onset * piece.divisions);
                });
            ASSERT_NE(found, piece.notes.end()) << path;
            fileRight += found->hand == (note.track == 0 ? 0 : 1) ? 1 : 0;
        }
        EXPECT_GE(fileRight * 100, expected.size() * 80) << path;
        notes += expected.size();
        right += fileRight;

        ASSERT_TRUE(read(smfBytes(0, 480, {merged}), &piece, &error, 39)) << error;
        for (const PieceNote& note : piece.notes) {
            EXPECT_EQ(note.hand, note.key >= 39 ? 0 : 1);
        }
    }
    EXPECT_GE(right * 100, notes * 95) << right << " of " << notes;
}

TEST(MidiIn, KeyNames) {
    EXPECT_EQ(parseKeyName("C4"), 39);
    EXPECT_EQ(parseKeyName("60"), 39);
    EXPECT_EQ(parseKeyName("A0"), 0);
    EXPECT_EQ(parseKeyName("21"), 0);
    EXPECT_EQ(parseKeyName("C8"), 87);
    EXPECT_EQ(parseKeyName("F#3"), 33);
    EXPECT_EQ(parseKeyName("Bb2"), 25);
    EXPECT_EQ(parseKeyName("c4"), 39);
    for (const char* bad : {"", "H4", "C", "C#", "20", "109", "C9", "4C", "60x", "C-1"}) {
        EXPECT_EQ(parseKeyName(bad), -1) << bad;
    }
}
