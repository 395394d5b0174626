// Held-out check on scores we did not write: every MusicXML file under the folders goes through
// preparation and the strict reader, and when a MIDI file the notation program played from the
// same score lies in the cache folder (tools/real-scores-midi.sh), the notes of the grids are
// compared with the notes of the MIDI tracks of the part that was chosen: key, onset and end in
// quarter notes. Prints per file whether it loaded and how many notes match, then the totals.
//
//   bench_real_scores [--verbose] [--midi CACHE] FOLDER...
//       CACHE holds FILE.mid for FILE under FOLDER (same relative path); without it FILE.mid
//       beside FILE. --verbose lists every unmatched note and every MIDI note left over.

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "prepare/prepare.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"
#include "support/grid_quarters.h"
#include "support/midi_notes.h"

namespace fs = std::filesystem;

namespace {

// The MIDI export ends each note a little early: a fiftieth of a quarter is far below any
// written value and far above that gap.
constexpr double kTolerance = 0.02;

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
    size_t matched = 0;     // key, onset and end agree
    size_t onsetOnly = 0;   // key and onset agree, the end does not
    size_t afterGrace = 0;  // key and end agree, started late by grace notes before it
    size_t rolled = 0;      // unmatched, but the MIDI starts it late and ends it right
    size_t graceNotes = 0;  // MIDI notes taken as those grace notes
    size_t midiExtra = 0;   // MIDI notes of the chosen tracks left over
    size_t midiNotes = 0;
    double gridSpan = 0.0;  // last end, quarter notes
    double midiSpan = 0.0;
    std::vector<int> tracks;
    std::vector<PlayedNote> misses;
    std::vector<MidiNote> leftOver;
};

Comparison compare(const std::vector<PlayedNote>& grid, const std::vector<MidiNote>& all,
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
    for (const PlayedNote& g : grid) {
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
        if (best < 0) {
            c.misses.push_back(g);
        }
    }
    // The notation program plays a grace note on the beat and starts the note it ornaments that
    // much later. Such a note is where the score puts it when one or more short notes of the same
    // track fill the gap from its written onset to where the MIDI starts it, and the ends agree.
    std::vector<PlayedNote> misses;
    for (const PlayedNote& g : c.misses) {
        bool found = false;
        std::vector<MidiNote>& list = byKey[g.key];
        for (size_t i = 0; i < list.size() && !found; ++i) {
            const MidiNote& m = list[i];
            const double late = m.onset - g.onset;
            if (used[g.key][i] || late < kTolerance || late > 0.5 ||
                std::fabs(m.end - g.end) >= kTolerance) {
                continue;
            }
            std::vector<std::pair<int, size_t>> graces;
            bool startsAtOnset = false;
            for (auto& [key, others] : byKey) {
                for (size_t k = 0; k < others.size(); ++k) {
                    const MidiNote& o = others[k];
                    if (!used[key][k] && o.track == m.track && o.onset > g.onset - kTolerance &&
                        o.end < m.onset + kTolerance && o.end > g.onset) {
                        graces.push_back({key, k});
                        startsAtOnset |= std::fabs(o.onset - g.onset) < kTolerance;
                    }
                }
            }
            if (startsAtOnset) {
                found = true;
                used[g.key][i] = true;
                for (const auto& [key, k] : graces) {
                    used[key][k] = true;
                    ++c.graceNotes;
                }
                ++c.afterGrace;
            }
        }
        // A rolled chord or an ornament: the notation program starts the written note up to half
        // a quarter late and ends it where the score does. Counted apart, not as matched.
        bool rolled = false;
        for (size_t i = 0; i < list.size() && !found && !rolled; ++i) {
            const double late = list[i].onset - g.onset;
            if (!used[g.key][i] && late >= kTolerance && late <= 0.5 &&
                std::fabs(list[i].end - g.end) < kTolerance) {
                used[g.key][i] = true;
                rolled = true;
                ++c.rolled;
            }
        }
        if (!found) {
            misses.push_back(g);
        }
    }
    c.misses = misses;
    for (const auto& [key, list] : byKey) {
        for (size_t i = 0; i < list.size(); ++i) {
            if (!used[key][i]) {
                c.leftOver.push_back(list[i]);
            }
        }
    }
    c.midiExtra = c.leftOver.size();
    return c;
}

// The tracks of the chosen part: the one or two tracks whose pitches cover the grids' pitches
// best, a note of the tracks the grids lack counting against them.
std::vector<int> chooseTracks(const std::vector<PlayedNote>& grid, const MidiFile& midi) {
    std::map<int, long> gridKeys;
    for (const PlayedNote& g : grid) {
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
    bool verbose = false;
    std::vector<std::string> folders;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--verbose") {
            verbose = true;
        } else if (arg == "--midi" && i + 1 < argc) {
            cache = argv[++i];
        } else {
            folders.push_back(arg);
        }
    }
    if (folders.empty()) {
        std::fprintf(stderr, "usage: bench_real_scores [--verbose] [--midi CACHE] FOLDER...\n");
        return 2;
    }
    size_t files = 0, loaded = 0, compared = 0, allMatch = 0, longer = 0;
    size_t notes = 0, matched = 0, afterGrace = 0, onsetOnly = 0, rolled = 0, notesInCompared = 0;
    size_t notesNoRepeats = 0, matchedNoRepeats = 0;  // files the MIDI does not play longer
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
            const std::vector<PlayedNote> grid = gridNotesInQuarters();
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
            matched += c.matched + c.afterGrace;
            afterGrace += c.afterGrace;
            onsetOnly += c.onsetOnly;
            rolled += c.rolled;
            const bool all = c.matched + c.afterGrace == grid.size();
            allMatch += all ? 1 : 0;
            // Repeats: the MIDI export plays them, the grids hold the written order once.
            const bool playsLonger = c.midiSpan > c.gridSpan + 1.0;
            longer += playsLonger ? 1 : 0;
            if (!playsLonger) {
                notesNoRepeats += grid.size();
                matchedNoRepeats += c.matched + c.afterGrace;
            }
            std::string tracks;
            for (int t : c.tracks) {
                tracks += (tracks.empty() ? "" : "+") + std::to_string(t + 1);
            }
            std::printf(
                ", tracks %s of %d: %zu matched (%zu of them after %zu grace notes), %zu "
                "unmatched (%zu of them only the end differs, %zu started late with the end "
                "right), "
                "%zu MIDI notes left over; span %.2f quarters, MIDI %.2f%s%s\n",
                tracks.c_str(), midi.tracks, c.matched + c.afterGrace, c.afterGrace, c.graceNotes,
                c.misses.size(), c.onsetOnly, c.rolled, c.midiExtra, c.gridSpan, c.midiSpan,
                playsLonger ? " (MIDI plays longer: repeats?)" : "", all ? "; ALL MATCH" : "");
            const size_t listed = verbose ? c.misses.size() : std::min<size_t>(3, c.misses.size());
            for (size_t k = 0; k < listed; ++k) {
                const PlayedNote& g = c.misses[k];
                std::printf("    unmatched: key %d %.3f..%.3f\n", g.key, g.onset, g.end);
            }
            for (size_t k = 0; verbose && k < c.leftOver.size(); ++k) {
                const MidiNote& m = c.leftOver[k];
                std::printf("    MIDI left over: track %d key %d %.3f..%.3f\n", m.track + 1, m.key,
                            m.onset, m.end);
            }
            std::fflush(stdout);
        }
    }
    const auto share = [](size_t part, size_t whole) {
        return whole ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0;
    };
    std::printf("files loaded: %zu / %zu\n", loaded, files);
    std::printf(
        "files compared with MIDI: %zu, all notes match: %zu, MIDI plays longer "
        "(repeats): %zu\n",
        compared, allMatch, longer);
    std::printf(
        "notes in grids: %zu; of the %zu compared: %zu matched (%.1f%%; %zu of them after "
        "grace notes); of the rest, %zu have key and onset right, the end not (%.1f%%), %zu are "
        "started late by the MIDI with the end right: rolled chords, ornaments (%.1f%%; the two "
        "overlap)\n",
        notes, notesInCompared, matched, share(matched, notesInCompared), afterGrace, onsetOnly,
        share(onsetOnly, notesInCompared), rolled, share(rolled, notesInCompared));
    std::printf("without the files the MIDI plays longer: %zu of %zu notes matched (%.1f%%)\n",
                matchedNoRepeats, notesNoRepeats, share(matchedNoRepeats, notesNoRepeats));
    std::fflush(stdout);
    return 0;
}
