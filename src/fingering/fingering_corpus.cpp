#include "fingering/fingering_corpus.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <map>
#include <numeric>
#include <sstream>

#include "base/bounded_file.h"
#include "score/score_model.h"

namespace {

constexpr int64_t kMaxTicksPerQuarter = 960;
constexpr int32_t kMidiOfFirstKey = 21;  // A0

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t at = line.find('\t'); at != std::string::npos; at = line.find('\t', start)) {
        fields.push_back(line.substr(start, at - start));
        start = at + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

bool parseInt(const std::string& text, int64_t* value) {
    if (text.empty() || text.size() > 12) {
        return false;
    }
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) {
        return false;
    }
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        v = v * 10 + (text[i] - '0');
    }
    *value = text[0] == '-' ? -v : v;
    return true;
}

// "3", "3/2": a non-negative fraction with a positive denominator.
bool parseFraction(const std::string& text, int64_t* num, int64_t* den) {
    const size_t slash = text.find('/');
    *den = 1;
    if (slash == std::string::npos) {
        return parseInt(text, num) && *num >= 0;
    }
    return parseInt(text.substr(0, slash), num) && parseInt(text.substr(slash + 1), den) &&
           *num >= 0 && *den > 0;
}

int32_t toTicks(int64_t num, int64_t den, int64_t perQuarter) {
    return static_cast<int32_t>(std::llround(static_cast<double>(num) * perQuarter / den));
}

// The file's text through the bounded reader, to be read line by line.
bool readCorpusFile(const std::string& path, std::istringstream* in, std::string* error) {
    std::string bytes;
    if (!readBoundedFile(path.c_str(), &bytes)) {
        *error = path + ": " + unreadableFile(errno);
        return false;
    }
    in->str(std::move(bytes));
    return true;
}

}  // namespace

bool readCorpusPiece(const std::string& path, CorpusPiece* piece, std::string* error) {
    std::istringstream in;
    if (!readCorpusFile(path, &in, error)) {
        return false;
    }
    const size_t slash = path.find_last_of('/');
    piece->name = slash == std::string::npos ? path : path.substr(slash + 1);
    piece->notes.clear();
    std::string line;
    size_t row = 0;
    while (std::getline(in, line)) {
        ++row;
        if (row == 1 || line.empty()) {
            continue;  // the header
        }
        const std::vector<std::string> f = splitTabs(line);
        CorpusNote n{};
        int64_t key = 0, finger = 0, measure = 0;
        const bool ok = f.size() == 8 && parseFraction(f[0], &n.onsetNum, &n.onsetDen) &&
                        parseFraction(f[1], &n.durationNum, &n.durationDen) &&
                        parseInt(f[2], &key) && (f[3] == "R" || f[3] == "L") &&
                        (f[6].empty() || (parseInt(f[6], &finger) && finger >= 1 && finger <= 5)) &&
                        parseInt(f[7], &measure);
        if (!ok) {
            *error = path + ":" + std::to_string(row) + ": not a note row";
            return false;
        }
        n.key = static_cast<int32_t>(key) - kMidiOfFirstKey;
        if (n.key < 0 || n.key >= kKeyCount) {
            continue;
        }
        n.hand = f[3] == "R" ? 0 : 1;
        n.finger = static_cast<int>(finger);
        n.measure = static_cast<int>(measure);
        piece->notes.push_back(n);
    }
    return true;
}

bool readSplit(const std::string& path, std::vector<SplitEntry>* split, std::string* error) {
    std::istringstream in;
    if (!readCorpusFile(path, &in, error)) {
        return false;
    }
    split->clear();
    std::string line;
    size_t row = 0;
    while (std::getline(in, line)) {
        ++row;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::vector<std::string> f = splitTabs(line);
        if (f.size() != 2 || f[0].empty() || (f[1] != "train" && f[1] != "validation")) {
            *error = path + ":" + std::to_string(row) + ": not 'piece<TAB>train|validation'";
            return false;
        }
        split->push_back({f[0], f[1]});
    }
    return true;
}

std::vector<int32_t> measureStarts(const std::vector<PlacedNote>& notes) {
    std::map<int, int32_t> first;
    for (const PlacedNote& n : notes) {
        const auto it = first.emplace(n.measure, n.tick).first;
        it->second = std::min(it->second, n.tick);
    }
    std::vector<int32_t> starts;
    for (const auto& entry : first) {
        if (starts.empty() || entry.second > starts.back()) {
            starts.push_back(entry.second);
        }
    }
    return starts;
}

std::vector<PlacedNote> fillGrids(const CorpusPiece& piece) {
    int64_t perQuarter = 1;
    for (const CorpusNote& n : piece.notes) {
        for (int64_t den : {n.onsetDen, n.durationDen}) {
            const int64_t l = std::lcm(perQuarter, den);
            perQuarter = l <= kMaxTicksPerQuarter ? l : perQuarter;
        }
    }
    if (perQuarter < 2) {
        perQuarter = 2;  // room for a tick of release between repeated notes
    }
    std::vector<PlacedNote> placed;
    int32_t end = 1;
    for (const CorpusNote& n : piece.notes) {
        PlacedNote p{};
        p.hand = n.hand;
        p.tick = toTicks(n.onsetNum, n.onsetDen, perQuarter);
        p.length = std::max<int32_t>(1, toTicks(n.durationNum, n.durationDen, perQuarter));
        p.key = n.key;
        p.finger = n.finger - 1;
        p.measure = n.measure;
        end = std::max(end, p.tick + p.length);
        placed.push_back(p);
    }
    divisions = static_cast<int32_t>(perQuarter);
    rightNotes.assign(end, kEmptyEvent);
    leftNotes.assign(end, kEmptyEvent);
    for (PlacedNote& p : placed) {
        std::vector<NoteEvent>& grid = p.hand == 0 ? rightNotes : leftNotes;
        // The same key still sounding (another voice, or an overlap): it ends a tick before.
        const NoteEvent& at = grid[p.tick];
        for (int k = 0; k < kSlotCount; ++k) {
            if (at.slot[k].key != p.key) {
                continue;
            }
            if (p.tick > 0 && grid[p.tick - 1].slot[k].key == p.key) {
                grid[p.tick - 1].slot[k].lastTick = 1;
            }
            for (int32_t t = p.tick; t < end && grid[t].slot[k].key == p.key; ++t) {
                grid[t].slot[k] = NoteSlot{kNoKey, 1};
            }
        }
        int slot = -1;
        for (int k = 0; k < kSlotCount && slot < 0; ++k) {
            bool free = true;
            for (int32_t t = p.tick; t < p.tick + p.length && free; ++t) {
                free = grid[t].slot[k].key == kNoKey;
            }
            slot = free ? k : -1;
        }
        p.placed = slot >= 0;
        if (!p.placed) {
            continue;
        }
        for (int32_t t = p.tick; t < p.tick + p.length; ++t) {
            grid[t].slot[slot] = NoteSlot{p.key, t + 1 == p.tick + p.length ? 1 : 0};
        }
    }
    return placed;
}

std::vector<PrintedFinger> printedFingers(const std::vector<PlacedNote>& notes) {
    std::vector<PrintedFinger> printed;
    for (const PlacedNote& n : notes) {
        if (n.finger >= 0 && n.placed) {
            printed.push_back({n.hand, n.tick, n.key, n.finger});
        }
    }
    return printed;
}

double exactShare(const MatchTally& t) {
    const size_t n = t.notes[0] + t.notes[1];
    return n == 0 ? 0.0 : 100.0 * static_cast<double>(t.matched[0] + t.matched[1]) / n;
}

MatchTally sumTallies(const std::vector<MatchTally>& pieces) {
    MatchTally all;
    for (const MatchTally& t : pieces) {
        all.add(t);
    }
    return all;
}

FigureRange redrawnRange(const std::vector<MatchTally>& pieces,
                         const std::vector<MatchTally>& against, int draws) {
    const size_t n = pieces.size();
    const bool paired = against.size() == n;
    if (n < 2 || draws < 1) {
        return {};
    }
    std::vector<double> figures;
    uint64_t state = 88172645463325252ull;
    for (int r = 0; r < draws; ++r) {
        MatchTally a, b;
        for (size_t i = 0; i < n; ++i) {
            state = state * 6364136223846793005ull + 1442695040888963407ull;
            const size_t at = static_cast<size_t>((state >> 33) % n);
            a.add(pieces[at]);
            if (paired) {
                b.add(against[at]);
            }
        }
        figures.push_back(exactShare(a) - (paired ? exactShare(b) : 0.0));
    }
    std::sort(figures.begin(), figures.end());
    const size_t tail = static_cast<size_t>(draws) / 40;
    return FigureRange{figures[tail], figures[figures.size() - 1 - tail]};
}

MatchTally countMatches(const std::vector<PlacedNote>& notes) {
    MatchTally tally;
    for (const PlacedNote& n : notes) {
        if (n.finger < 0) {
            continue;
        }
        ++tally.notes[n.hand];
        const std::vector<NoteEvent>& grid = n.hand == 0 ? rightNotes : leftNotes;
        if (n.placed && static_cast<size_t>(n.tick) < grid.size() &&
            grid[n.tick].slot[n.finger].key == n.key) {
            ++tally.matched[n.hand];
        }
    }
    return tally;
}
