// How well the hand planner splits piano music that does not say which hand plays: two-staff
// piano scores (MIDI files with one track per staff, and MusicXML scores through the
// preparation) have their staves merged into one and split again by the planner. Prints, per
// file and in total, the share of notes that go to the hand of their staff.
//
//   bench_hand_split [FILE or FOLDER ...]   (default: tests/data/real/*.mid, the bundled sonata
//                                            and the fingered exercises)

#include "midi/hand_split.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "midi/midi_file.h"
#include "prepare/container.h"
#include "prepare/prepare.h"

namespace {
// The notes of a file with the hand of their staff, or false.
bool staffNotes(const std::string& path, std::vector<PieceNote>* notes, std::string* error) {
    notes->clear();
    std::string bytes;
    if (!readScoreBytes(path, &bytes, error)) {
        return false;
    }
    if (looksLikeMidi(path, bytes)) {
        Piece piece;
        MidiReadReport report;
        if (!readMidi(bytes, MidiReadOptions(), &piece, &report, error)) {
            return false;
        }
        *notes = piece.notes;
        return true;
    }
    PrepareResult prepared;
    if (!prepareScore(path, PrepareOptions(), &prepared)) {
        *error = prepared.error;
        return false;
    }
    for (const PreparedNote& p : prepared.notes) {
        PieceNote note;
        note.hand = p.hand;
        note.key = p.key;
        note.tick = p.tick;
        note.endTick = p.tick + std::max<int32_t>(p.length, 1);
        notes->push_back(note);
    }
    return true;
}

void addFiles(const std::string& where, std::vector<std::string>* files) {
    namespace fs = std::filesystem;
    if (!fs::is_directory(where)) {
        files->push_back(where);
        return;
    }
    std::vector<std::string> found;
    for (const fs::directory_entry& entry : fs::directory_iterator(where)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".mid" || ext == ".midi" || ext == ".xml" || ext == ".musicxml" ||
            ext == ".mxl") {
            found.push_back(entry.path().string());
        }
    }
    std::sort(found.begin(), found.end());
    files->insert(files->end(), found.begin(), found.end());
}
}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    if (argc > 1) {
        for (int i = 1; i < argc; ++i) {
            addFiles(argv[i], &files);
        }
    } else {
        const std::string root = QUORVEL_SOURCE_DIR;
        for (const auto& entry : std::filesystem::directory_iterator(root + "/tests/data/real")) {
            if (entry.path().extension() == ".mid") {
                files.push_back(entry.path().string());
            }
        }
        std::sort(files.begin(), files.end());
        files.push_back(root + "/debug/OrlundePianoSonata.xml");
        addFiles(root + "/tests/data/fingering", &files);
    }
    size_t allNotes = 0;
    size_t allRight = 0;
    double allSeconds = 0.0;
    std::printf("%-40s %7s %7s %8s\n", "file", "notes", "hand ok", "share");
    for (const std::string& path : files) {
        std::vector<PieceNote> notes;
        std::string error;
        if (!staffNotes(path, &notes, &error)) {
            std::printf("%-40s skipped: %s\n", std::filesystem::path(path).filename().c_str(),
                        error.c_str());
            continue;
        }
        bool bothHands = false;
        for (const PieceNote& note : notes) {
            bothHands = bothHands || note.hand != notes.front().hand;
        }
        if (!bothHands) {
            std::printf("%-40s skipped: one staff only\n",
                        std::filesystem::path(path).filename().c_str());
            continue;
        }
        std::vector<PieceNote> merged = notes;
        std::vector<size_t> all(merged.size());
        for (size_t i = 0; i < all.size(); ++i) {
            all[i] = i;
            merged[i].hand = 0;
        }
        const auto start = std::chrono::steady_clock::now();
        splitHands(&merged, all);
        allSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        size_t right = 0;
        for (size_t i = 0; i < notes.size(); ++i) {
            right += merged[i].hand == notes[i].hand ? 1 : 0;
        }
        allNotes += notes.size();
        allRight += right;
        std::printf("%-40s %7zu %7zu %7.1f %%\n", std::filesystem::path(path).filename().c_str(),
                    notes.size(), right, 100.0 * right / notes.size());
        std::fflush(stdout);
    }
    if (allNotes > 0) {
        std::printf("%-40s %7zu %7zu %7.1f %%   (planner %.1f ms in all)\n", "total", allNotes,
                    allRight, 100.0 * allRight / allNotes, allSeconds * 1000.0);
    }
    return 0;
}
