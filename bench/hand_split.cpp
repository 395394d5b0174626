// How well the hand planner splits piano music that does not say which hand plays: two-staff
// piano scores (MIDI files with one track per staff, and MusicXML scores through the
// preparation) have their staves merged into one and split again by the planner. Prints, per
// file and in total, the share of notes that go to the hand of their staff. The note lists of
// data/fingering-train (real two-staff piano pieces and exercises, each note with its hand) are
// read as they are.
//
//   bench_hand_split [FILE or FOLDER ...]   (default: the MIDI exports under tests/data, the
//                                            bundled sonata, the fingered exercises and the
//                                            pieces of data/fingering-train)
//   --misses   also lists every note given to the other hand than its staff's

#include "midi/hand_split.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "fingering/fingering_corpus.h"
#include "midi/midi_file.h"
#include "prepare/container.h"
#include "prepare/prepare.h"

namespace {
// The notes of a file with the hand of their staff, or false.
bool staffNotes(const std::string& path, std::vector<PieceNote>* notes, std::string* error) {
    notes->clear();
    if (std::filesystem::path(path).extension() == ".tsv") {
        CorpusPiece piece;
        if (!readCorpusPiece(path, &piece, error)) {
            return false;
        }
        // 960 ticks a quarter note: the notes of one onset share a tick, so a chord stays one.
        const auto ticks = [](int64_t num, int64_t den) {
            return static_cast<int32_t>((num * 960 + den / 2) / den);
        };
        for (const CorpusNote& c : piece.notes) {
            PieceNote note;
            note.hand = c.hand;
            note.key = c.key;
            note.tick = ticks(c.onsetNum, c.onsetDen);
            note.endTick = std::max(note.tick + 1,
                                    ticks(c.onsetNum * c.durationDen + c.durationNum * c.onsetDen,
                                          c.onsetDen * c.durationDen));
            notes->push_back(note);
        }
        return true;
    }
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
            ext == ".mxl" || ext == ".tsv") {
            found.push_back(entry.path().string());
        }
    }
    std::sort(found.begin(), found.end());
    files->insert(files->end(), found.begin(), found.end());
}
}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    bool misses = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--misses") {
            misses = true;
        } else {
            addFiles(argv[i], &files);
        }
    }
    if (files.empty()) {
        const std::string root = QUORVEL_SOURCE_DIR;
        for (const char* folder : {"real", "performance", "repeats", "ornaments", "hand_split"}) {
            const std::string where = root + "/tests/data/" + folder;
            if (!std::filesystem::is_directory(where)) {
                continue;
            }
            std::vector<std::string> found;
            for (const auto& entry : std::filesystem::directory_iterator(where)) {
                if (entry.path().extension() == ".mid") {
                    found.push_back(entry.path().string());
                }
            }
            std::sort(found.begin(), found.end());
            files.insert(files.end(), found.begin(), found.end());
        }
        files.push_back(root + "/debug/OrlundePianoSonata.xml");
        addFiles(root + "/tests/data/fingering", &files);
        addFiles(root + "/data/fingering-train/pieces", &files);
    }
    size_t allNotes = 0;
    size_t allRight = 0;
    double allSeconds = 0.0;
    std::printf("%-58s %7s %7s %8s\n", "file", "notes", "hand ok", "share");
    for (const std::string& path : files) {
        std::vector<PieceNote> notes;
        std::string error;
        if (!staffNotes(path, &notes, &error)) {
            std::printf("%-58s skipped: %s\n", std::filesystem::path(path).filename().c_str(),
                        error.c_str());
            continue;
        }
        bool bothHands = false;
        for (const PieceNote& note : notes) {
            bothHands = bothHands || note.hand != notes.front().hand;
        }
        if (!bothHands) {
            std::printf("%-58s skipped: one staff only\n",
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
            if (misses && merged[i].hand != notes[i].hand) {
                std::printf("    miss: tick %d key %d staff hand %s\n", notes[i].tick, notes[i].key,
                            notes[i].hand == 0 ? "right" : "left");
            }
        }
        allNotes += notes.size();
        allRight += right;
        std::printf("%-58s %7zu %7zu %7.1f %%\n", std::filesystem::path(path).filename().c_str(),
                    notes.size(), right, 100.0 * right / notes.size());
        std::fflush(stdout);
    }
    if (allNotes > 0) {
        std::printf("%-58s %7zu %7zu %7.1f %%   (planner %.1f ms in all)\n", "total", allNotes,
                    allRight, 100.0 * allRight / allNotes, allSeconds * 1000.0);
    }
    return 0;
}
