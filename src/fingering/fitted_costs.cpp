#include "fingering/fitted_costs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <unordered_map>

namespace fitted {

namespace {

// The table as quorvel-fingering-fit wrote it, with its provenance in the comment at its top.
const Costs kEmbedded = {
#include "../../data/fingering/fitted_costs.inc"
};

// The cost given to a chord shape that cannot occur (more shapes than C(5, n)).
constexpr float kImpossible = 50.0f;

// A coarser reading of an interval or a span: its sign and one of six sizes.
int coarse(int semitones) {
    const int a = std::abs(semitones);
    const int size = a == 0 ? 0 : a <= 2 ? 1 : a <= 4 ? 2 : a <= 7 ? 3 : a <= 12 ? 4 : 5;
    return semitones < 0 ? -size : size;
}

// One back-off level: the key of a context's parent at this level.
using LevelKey = std::function<long(int context)>;

// P(outcome | context) for every context, smoothed through `levels` (coarsest first, the last
// one the full context) down to a uniform distribution over outcomes(context) outcomes; written
// as negative logs into `out` at context * width + outcome.
template <typename Out>
void smooth(const std::vector<double>& counts, int contexts, int width,
            const std::function<int(int)>& outcomes, const std::vector<LevelKey>& levels,
            double alpha, Out* out) {
    std::vector<std::unordered_map<long, std::vector<double>>> tallies(levels.size());
    for (int c = 0; c < contexts; ++c) {
        for (size_t l = 0; l < levels.size(); ++l) {
            std::vector<double>& t = tallies[l][levels[l](c)];
            t.resize(width, 0.0);
            for (int o = 0; o < width; ++o) {
                t[o] += counts[c * width + o];
            }
        }
    }
    std::vector<double> p(width), next(width);
    for (int c = 0; c < contexts; ++c) {
        const int n = outcomes(c);
        for (int o = 0; o < width; ++o) {
            p[o] = o < n ? 1.0 / n : 0.0;
        }
        for (size_t l = 0; l < levels.size(); ++l) {
            const std::vector<double>& t = tallies[l][levels[l](c)];
            double total = 0.0;
            for (int o = 0; o < n; ++o) {
                total += t[o];
            }
            for (int o = 0; o < n; ++o) {
                next[o] = (t[o] + alpha * p[o]) / (total + alpha);
            }
            std::copy(next.begin(), next.begin() + n, p.begin());
        }
        for (int o = 0; o < width; ++o) {
            const double cost = p[o] > 0.0 ? -std::log(p[o]) : kImpossible;
            (*out)[c * width + o] =
                o < n ? static_cast<float>(std::min<double>(cost, kImpossible)) : kImpossible;
        }
    }
}

void writeRow(std::FILE* f, const float* values, int count) {
    for (int i = 0; i < count; ++i) {
        std::fprintf(f, "%.2f,%s", values[i], i + 1 == count ? "\n" : " ");
    }
}

}  // namespace

int shapeCount(int n) {
    static const int kCount[kFingers + 1] = {1, 5, 10, 10, 5, 1};
    return n >= 0 && n <= kFingers ? kCount[n] : 0;
}

const Costs& embeddedCosts() {
    return kEmbedded;
}

Costs fitCosts(const Counts& counts, double smoothing,
               const std::array<float, kWeightCount>& weights) {
    Costs costs{};
    costs.weight = weights;

    // Transitions: context = hand, interval, colours, gap, finger before.
    {
        struct T {
            int hand, interval, colours, gap, from;
        };
        auto decode = [](int c) {
            T t{};
            t.from = c % kFingers;
            c /= kFingers;
            t.gap = c % kGaps;
            c /= kGaps;
            t.colours = c % kColourPairs;
            c /= kColourPairs;
            t.interval = c % kIntervals - kMaxInterval;
            t.hand = c / kIntervals;
            return t;
        };
        auto key = [](long a, long b, long c, long d, long e) {
            return (((a * 64 + b) * 8 + c) * 8 + d) * 8 + e;
        };
        const std::vector<LevelKey> levels = {
            [&](int c) { return key(0, coarse(decode(c).interval) + 32, 0, 0, decode(c).from); },
            [&](int c) { return key(0, decode(c).interval + 32, 0, 0, decode(c).from); },
            [&](int c) {
                const T t = decode(c);
                return key(0, t.interval + 32, t.colours, 0, t.from);
            },
            [&](int c) {
                const T t = decode(c);
                return key(0, t.interval + 32, t.colours, t.gap + 1, t.from);
            },
            [&](int c) {
                const T t = decode(c);
                return key(t.hand + 1, t.interval + 32, t.colours, t.gap + 1, t.from);
            },
        };
        smooth(
            counts.transition, kTransitionSize / kFingers, kFingers, [](int) { return kFingers; },
            levels, smoothing, &costs.transition);
    }

    // Chords: context = hand, size, span, colours, inner.
    {
        struct C {
            int hand, n, span, colours, inner;
        };
        auto decode = [](int c) {
            C t{};
            t.inner = c % kInner;
            c /= kInner;
            t.colours = c % kColourPairs;
            c /= kColourPairs;
            t.span = c % kMaxSpan + 1;
            c /= kMaxSpan;
            t.n = c % kChordSizes + 2;
            t.hand = c / kChordSizes;
            return t;
        };
        auto key = [](long hand, long n, long span, long inner, long colours) {
            return (((hand * 8 + n) * 64 + span) * 8 + inner) * 8 + colours;
        };
        const std::vector<LevelKey> levels = {
            [&](int c) { return key(0, decode(c).n, 0, 0, 0); },
            [&](int c) { return key(0, decode(c).n, coarse(decode(c).span) + 1, 0, 0); },
            [&](int c) { return key(0, decode(c).n, decode(c).span + 8, 0, 0); },
            [&](int c) {
                const C t = decode(c);
                return key(0, t.n, t.span + 8, t.inner + 1, 0);
            },
            [&](int c) {
                const C t = decode(c);
                return key(0, t.n, t.span + 8, t.inner + 1, t.colours + 1);
            },
            [&](int c) {
                const C t = decode(c);
                return key(t.hand + 1, t.n, t.span + 8, t.inner + 1, t.colours + 1);
            },
        };
        smooth(
            counts.chord, kChordSize / kShapes, kShapes,
            [&](int c) { return shapeCount(decode(c).n); }, levels, smoothing, &costs.chord);
    }

    // Line ends: context = hand, kind, colour.
    {
        const std::vector<LevelKey> levels = {
            [](int c) { return static_cast<long>(c % (kLineKinds * 2) / 2); },
            [](int c) { return static_cast<long>(100 + c % (kLineKinds * 2)); },
            [](int c) { return static_cast<long>(1000 + c); },
        };
        smooth(
            counts.start, kStartSize / kFingers, kFingers, [](int) { return kFingers; }, levels,
            smoothing, &costs.start);
    }

    // Figures: context = hand, side before, side after, colour.
    {
        // Sides by their coarse interval (none and chord kept as they are).
        auto side = [](int v) {
            return v >= kFigureNone ? 100L + v : static_cast<long>(coarse(v - kFigureInterval));
        };
        auto decode = [](int c, int* hand, int* before, int* after, int* black) {
            c /= kColourPairs;
            *black = c % 2;
            c /= 2;
            *after = c % kFigureSides;
            c /= kFigureSides;
            *before = c % kFigureSides;
            *hand = c / kFigureSides;
        };
        const std::vector<LevelKey> levels = {
            [](int c) { return static_cast<long>(c / kColourPairs % 2); },
            [&](int c) {
                int h, b, a, k;
                decode(c, &h, &b, &a, &k);
                return (side(b) * 1000 + side(a)) * 2 + k;
            },
            [&](int c) {
                int h, b, a, k;
                decode(c, &h, &b, &a, &k);
                return static_cast<long>((b * kFigureSides + a) * 2 + k);
            },
            [&](int c) {
                int h, b, a, k;
                decode(c, &h, &b, &a, &k);
                return static_cast<long>(((b * kFigureSides + a) * 2 + k) * kColourPairs +
                                         c % kColourPairs);
            },
            [](int c) { return static_cast<long>(c); },
        };
        smooth(
            counts.figure, kFigureSize / kFingers, kFingers, [](int) { return kFingers; }, levels,
            smoothing, &costs.figure);
    }
    return costs;
}

bool writeCosts(const std::string& path, const std::vector<std::string>& header, const Costs& costs,
                std::string* error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_symlink(path, ec)) {
        *error = path + ": is a symbolic link; not replaced";
        return false;
    }
    const std::string temporary = path + ".tmp";
    std::FILE* f = std::fopen(temporary.c_str(), "w");
    if (f == nullptr) {
        *error = "cannot write " + temporary;
        return false;
    }
    for (const std::string& line : header) {
        std::fprintf(f, "//%s%s\n", line.empty() ? "" : " ", line.c_str());
    }
    std::fprintf(
        f, "// weights: transition, chord, line ends, hand-set blend, consistency, figure\n{");
    writeRow(f, costs.weight.data(), kWeightCount);
    std::fprintf(f,
                 "},\n// transition[hand][interval %+d..%+d][colours][gap][finger before]"
                 "[finger]\n{\n",
                 -kMaxInterval, kMaxInterval);
    for (int i = 0; i < kTransitionSize; i += kFingers) {
        writeRow(f, costs.transition.data() + i, kFingers);
    }
    std::fprintf(f, "},\n// chord[hand][notes 2..5][span 1..%d][colours][widest gap][shape]\n{\n",
                 kMaxSpan);
    for (int i = 0; i < kChordSize; i += kShapes) {
        writeRow(f, costs.chord.data() + i, kShapes);
    }
    std::fprintf(f, "},\n// line ends[hand][kind][black][finger]\n{\n");
    for (int i = 0; i < kStartSize; i += kFingers) {
        writeRow(f, costs.start.data() + i, kFingers);
    }
    std::fprintf(f, "},\n// figure[hand][before][after][black][neighbours][finger]\n{\n");
    for (int i = 0; i < kFigureSize; i += kFingers) {
        writeRow(f, costs.figure.data() + i, kFingers);
    }
    std::fprintf(f, "},\n");
    const bool written = std::fflush(f) == 0 && !std::ferror(f);
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed) {
        fs::remove(temporary, ec);
        *error = "cannot write " + temporary;
        return false;
    }
    fs::rename(temporary, path, ec);
    if (ec) {
        fs::remove(temporary, ec);
        *error = "cannot replace " + path + ": " + ec.message();
        return false;
    }
    return true;
}

}  // namespace fitted
