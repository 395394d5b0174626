// Reading MIDI files of growing size: time per note of the reading (libsmf and ours) and of the
// hand planner on the same notes in one track, to show both grow linearly with the file.
//
//   bench_midi_read

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "midi/midi_file.h"
#include "support/smf_bytes.h"

namespace {
// `notes` notes in running quarter-note chords and lines, either in two tracks named for the
// hands or all in one track.
std::string makeFile(size_t notes, bool oneTrack) {
    SmfTrack right;
    SmfTrack left;
    right.name(oneTrack ? "Piano" : "Right hand");
    left.name("Left hand");
    const int melody[] = {60, 62, 64, 65, 67, 69, 71, 72, 71, 69, 67, 65, 64, 62};
    const int bass[] = {48, 43, 45, 41};
    size_t made = 0;
    for (uint32_t beat = 0; made < notes; ++beat) {
        const uint32_t at = beat * 240;
        right.note(at, at + 240, melody[beat % 14], 70 + beat % 40);
        ++made;
        if (beat % 2 == 0 && made < notes) {
            SmfTrack& track = oneTrack ? right : left;
            track.note(at, at + 480, bass[(beat / 8) % 4], 60);
            ++made;
            if (made < notes) {
                track.note(at, at + 480, bass[(beat / 8) % 4] + 7, 60);
                ++made;
            }
        }
    }
    return oneTrack ? smfBytes(0, 480, {right}) : smfBytes(1, 480, {right, left});
}

double secondsToRead(const std::string& bytes, size_t* notes) {
    double best = 1e30;
    for (int run = 0; run < 3; ++run) {
        Piece piece;
        MidiReadReport report;
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        if (!readMidi(bytes, MidiReadOptions(), &piece, &report, &error)) {
            std::printf("failed: %s\n", error.c_str());
            return 0.0;
        }
        best = std::min(
            best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        *notes = piece.notes.size();
    }
    return best;
}
}  // namespace

int main() {
    std::printf("%10s %10s %12s %14s %14s\n", "notes", "file MB", "two tracks", "one track",
                "split alone");
    for (size_t notes : {size_t{10000}, size_t{100000}, size_t{1000000}}) {
        const std::string two = makeFile(notes, false);
        const std::string one = makeFile(notes, true);
        size_t read = 0;
        const double twoSeconds = secondsToRead(two, &read);
        const double oneSeconds = secondsToRead(one, &read);
        std::printf("%10zu %10.2f %9.3f us %11.3f us %11.3f us   (per note)\n", read,
                    two.size() / 1e6, twoSeconds / read * 1e6, oneSeconds / read * 1e6,
                    (oneSeconds - twoSeconds) / read * 1e6);
        std::fflush(stdout);
    }
    return 0;
}
