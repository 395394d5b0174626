// Held-out check on scores we did not write: every MusicXML file under the folders goes through
// preparation and the strict reader, and when a MIDI file the notation program played from the
// same score lies in the cache folder (tools/real-scores-midi.sh), the notes of the grids are
// compared with the notes of the MIDI tracks of the part that was chosen: key, onset and end in
// quarter notes. Prints per file whether it loaded and how many notes match, then the totals.
//
//   bench_real_scores [--midi CACHE] FOLDER...
//       CACHE holds FILE.mid for FILE under FOLDER (same relative path)

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "midi_notes.h"
#include "prepare/prepare.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"

namespace fs = std::filesystem;

namespace {

// The MIDI export ends each note a little early: a fiftieth of a quarter is far below any
// written value and far above that gap.
constexpr double kTolerance = 0.02;

struct GridNote {
    int key;
    double onset;
    double end;
};

std::vector<GridNote> gridNotes() {
    std::vector<GridNote> notes;
    for (int hand = 0; hand < 2; ++hand) {
        const std::vector<NoteEvent>& grid = hand == 0 ? rightNotes : leftNotes;
        std::map<int, size_t> open;  // key -> first tick
        for (size_t t = 0; t < grid.size(); ++t) {
            for (const NoteSlot& slot : grid[t].slot) {
                if (slot.key < 0) {
                    continue;
                }
                open.emplace(slot.key, t);  // kept when the note already sounds
                if (slot.lastTick == 1) {
                    notes.push_back({slot.key, static_cast<double>(open[slot.key]) / divisions,
                                     static_cast<double>(t + 1) / divisions});
                    open.erase(slot.key);
                }
            }
        }
    }
    std::sort(notes.begin(), notes.end(), [](const GridNote& a, const GridNote& b) {
        return a.onset != b.onset ? a.onset < b.onset : a.key < b.key;
    });
    return notes;
}

// Loads the prepared text with the reader's output sent to a file; returns the reader's status
// and, on failure, its last line.
int loadQuietly(const std::string& xml, const std::string& path, std::string* failure) {
    rightNotes.clear();
    leftNotes.clear();
    currentTick = -1;
    divisions = 0;
    std::fflush(stdout);
    FILE* sink = std::tmpfile();
    const int saved = dup(fileno(stdout));
    if (sink != nullptr) {
        dup2(fileno(sink), fileno(stdout));
    }
    const int status = loadScoreFromBuffer(xml.data(), xml.size(), path.c_str());
    std::fflush(stdout);
    if (sink != nullptr) {
        dup2(saved, fileno(stdout));
        std::rewind(sink);
        std::string text;
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, sink)) > 0) {
            text.append(buffer, n);
        }
        std::fclose(sink);
        while (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        const size_t cut = text.rfind('\n');
        *failure = cut == std::string::npos ? text : text.substr(cut + 1);
    }
    close(saved);
    return status;
}

struct Comparison {
    size_t matched = 0;    // key, onset and end agree
    size_t onsetOnly = 0;  // key and onset agree, the end does not
    size_t midiExtra = 0;  // MIDI notes of the chosen tracks left over
    size_t midiNotes = 0;
    double gridSpan = 0.0;  // last end, quarter notes
    double midiSpan = 0.0;
    std::vector<int> tracks;
    std::vector<GridNote> firstMisses;
};

Comparison compare(const std::vector<GridNote>& grid, const std::vector<MidiNote>& all,
                   const std::vector<int>& tracks) {
    Comparison c;
    c.tracks = tracks;
    std::map<int, std::vector<MidiNote>> byKey;
    for (const MidiNote& m : all) {
        if (std::find(tracks.begin(), tracks.end(), m.track) != tracks.end()) {
            byKey[m.key].push_back(m);
            ++c.midiNotes;
            c.midiSpan = std::max(c.midiSpan, m.end);
        }
    }
    std::map<int, std::vector<bool>> used;
    for (auto& [key, list] : byKey) {
        used[key].assign(list.size(), false);
    }
    for (const GridNote& g : grid) {
        c.gridSpan = std::max(c.gridSpan, g.end);
        auto found = byKey.find(g.key);
        long best = -1;
        long onsetBest = -1;
        if (found != byKey.end()) {
            const std::vector<MidiNote>& list = found->second;
            for (size_t i = 0; i < list.size(); ++i) {
                if (used[g.key][i] || std::fabs(list[i].onset - g.onset) >= kTolerance) {
                    continue;
                }
                if (std::fabs(list[i].end - g.end) < kTolerance) {
                    best = static_cast<long>(i);
                    break;
                }
                if (onsetBest < 0) {
                    onsetBest = static_cast<long>(i);
                }
            }
        }
        if (best >= 0) {
            used[g.key][best] = true;
            ++c.matched;
        } else if (onsetBest >= 0) {
            used[g.key][onsetBest] = true;
            ++c.onsetOnly;
        }
        if (best < 0 && c.firstMisses.size() < 3) {
            c.firstMisses.push_back(g);
        }
    }
    c.midiExtra = c.midiNotes - c.matched - c.onsetOnly;
    return c;
}

// The tracks of the chosen part: the one or two tracks whose pitches cover the grids' pitches
// best, a note of the tracks the grids lack counting against them.
std::vector<int> chooseTracks(const std::vector<GridNote>& grid, const MidiFile& midi) {
    std::map<int, long> gridKeys;
    for (const GridNote& g : grid) {
        ++gridKeys[g.key];
    }
    std::vector<std::map<int, long>> trackKeys(midi.tracks);
    for (const MidiNote& m : midi.notes) {
        ++trackKeys[m.track][m.key];
    }
    std::vector<int> best;
    long bestScore = 0;
    for (int a = 0; a < midi.tracks; ++a) {
        for (int b = a; b < midi.tracks; ++b) {
            std::map<int, long> keys = trackKeys[a];
            if (b != a) {
                for (const auto& [key, count] : trackKeys[b]) {
                    keys[key] += count;
                }
            }
            long shared = 0;
            long size = 0;
            for (const auto& [key, count] : keys) {
                size += count;
                auto g = gridKeys.find(key);
                shared += g == gridKeys.end() ? 0 : std::min(count, g->second);
            }
            const long score = 2 * shared - size;
            if (best.empty() || score > bestScore) {
                best = b == a ? std::vector<int>{a} : std::vector<int>{a, b};
                bestScore = score;
            }
        }
    }
    return best;
}

bool isScore(const fs::path& p) {
    const std::string e = p.extension().string();
    return e == ".xml" || e == ".mxl" || e == ".musicxml";
}

}  // namespace

int main(int argc, char** argv) {
    std::string cache;
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--midi" && i + 1 < argc) {
            cache = argv[++i];
        } else {
            folders.push_back(arg);
        }
    }
    if (folders.empty()) {
        std::fprintf(stderr, "usage: bench_real_scores [--midi CACHE] FOLDER...\n");
        return 2;
    }
    size_t files = 0, loaded = 0, compared = 0, allMatch = 0, longer = 0;
    size_t notes = 0, matched = 0, onsetOnly = 0, notesInCompared = 0;
    for (const std::string& folder : folders) {
        std::vector<fs::path> paths;
        std::error_code error;
        for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            if (it->is_regular_file() && isScore(it->path())) {
                paths.push_back(it->path());
            }
        }
        std::sort(paths.begin(), paths.end());
        for (const fs::path& path : paths) {
            ++files;
            const std::string shown = path.string();
            PrepareResult prepared;
            if (!prepareScore(shown, PrepareOptions{}, &prepared)) {
                std::printf("%s: FAILED preparing: %s\n", shown.c_str(), prepared.error.c_str());
                std::fflush(stdout);
                continue;
            }
            std::string failure;
            if (loadQuietly(prepared.xml, shown, &failure) != 0) {
                std::printf("%s: FAILED loading: %s\n", shown.c_str(), failure.c_str());
                std::fflush(stdout);
                continue;
            }
            ++loaded;
            const std::vector<GridNote> grid = gridNotes();
            notes += grid.size();
            std::printf("%s: loaded, %zu notes in grids", shown.c_str(), grid.size());
            const std::string midiPath =
                cache.empty() ? shown + ".mid"
                              : cache + "/" + fs::relative(path, folder).string() + ".mid";
            if (!fs::exists(midiPath)) {
                std::printf(", no MIDI\n");
                std::fflush(stdout);
                continue;
            }
            const MidiFile midi = readMidiFile(midiPath);
            if (!midi.error.empty() || midi.tracks == 0) {
                std::printf(", MIDI unreadable: %s\n",
                            midi.error.empty() ? "no notes" : midi.error.c_str());
                std::fflush(stdout);
                continue;
            }
            const Comparison c = compare(grid, midi.notes, chooseTracks(grid, midi));
            ++compared;
            notesInCompared += grid.size();
            matched += c.matched;
            onsetOnly += c.onsetOnly;
            const bool all = c.matched == grid.size();
            allMatch += all ? 1 : 0;
            const bool playsLonger = c.midiSpan > c.gridSpan + 1.0;
            longer += playsLonger ? 1 : 0;
            std::string tracks;
            for (int t : c.tracks) {
                tracks += (tracks.empty() ? "" : "+") + std::to_string(t + 1);
            }
            std::printf(
                ", tracks %s of %d: %zu matched, %zu unmatched (%zu of them only the end "
                "differs), %zu MIDI notes left over; span %.2f quarters, MIDI %.2f%s\n",
                tracks.c_str(), midi.tracks, c.matched, grid.size() - c.matched, c.onsetOnly,
                c.midiExtra, c.gridSpan, c.midiSpan,
                playsLonger ? " (MIDI plays longer: repeats?)" : "");
            for (const GridNote& g : c.firstMisses) {
                std::printf("    unmatched: key %d %.3f..%.3f\n", g.key, g.onset, g.end);
            }
            std::fflush(stdout);
        }
    }
    std::printf("files loaded: %zu / %zu\n", loaded, files);
    std::printf("files compared with MIDI: %zu, all notes match: %zu, MIDI plays longer: %zu\n",
                compared, allMatch, longer);
    std::printf(
        "notes in grids: %zu; of the %zu compared: %zu matched (%.1f%%), %zu more "
        "with the onset only (%.1f%%)\n",
        notes, notesInCompared, matched, notesInCompared ? 100.0 * matched / notesInCompared : 0.0,
        onsetOnly, notesInCompared ? 100.0 * onsetOnly / notesInCompared : 0.0);
    std::fflush(stdout);
    return 0;
}
