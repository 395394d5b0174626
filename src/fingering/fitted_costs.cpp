#include "fingering/fitted_costs.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
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

// A coarser reading of an interval or a span: its sign and one of six sizes. Values of
// kSpecial and above are not intervals (no neighbour, a chord) and stay as they are.
constexpr int kSpecial = 32;
int coarse(int semitones) {
    if (semitones >= kSpecial) {
        return semitones;
    }
    const int a = std::abs(semitones);
    const int size = a == 0 ? 0 : a <= 2 ? 1 : a <= 4 ? 2 : a <= 7 ? 3 : a <= 12 ? 4 : 5;
    return semitones < 0 ? -size : size;
}

// One back-off level: the key of a context's parent at this level.
using LevelKey = std::function<long(int context)>;

// A context read as the fields its table is indexed by (each within -63..63).
constexpr int kMaxFields = 5;
using Fields = std::array<int, kMaxFields>;
// A back-off level as the fields it keeps (bit i: field i) and those of them read coarsely.
struct Level {
    unsigned keep;
    unsigned coarse;
};

// The parents of every context at each level: the fields a level keeps, packed into one key.
std::vector<LevelKey> levelsOf(const std::function<Fields(int)>& decode,
                               const std::vector<Level>& levels) {
    std::vector<LevelKey> keys;
    for (const Level& level : levels) {
        keys.push_back([decode, level](int c) {
            const Fields f = decode(c);
            long key = 0;
            for (int i = 0; i < kMaxFields; ++i) {
                const bool kept = (level.keep >> i) & 1u;
                const int v = !kept ? 0 : ((level.coarse >> i) & 1u) ? coarse(f[i]) : f[i];
                key = key * 128 + (v + 64);
            }
            return key;
        });
    }
    return keys;
}

// P(outcome | context) for every context, smoothed through `levels` (coarsest first, the last
// one the full context) down to a uniform distribution over outcomes(context) outcomes; written
// as negative logs into `out` at context * width + outcome.
template <typename Out>
void smooth(const std::vector<double>& counts, int contexts, int width,
            const std::function<int(int)>& outcomes, const std::vector<LevelKey>& levels,
            double alpha, const std::function<double(int)>& alphaLast, Out* out) {
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
            const double a = l + 1 == levels.size() ? alphaLast(c) : alpha;
            for (int o = 0; o < n; ++o) {
                next[o] = (t[o] + a * p[o]) / (total + a);
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

// A row of numbers: cells to two decimals, or weights and rules to four significant digits.
void appendRow(std::string* text, const float* values, int count, bool fourDigits = false) {
    for (int i = 0; i < count; ++i) {
        const double value = static_cast<double>(values[i]);
        const char* end = i + 1 == count ? "\n" : " ";
        if (fourDigits) {
            appendf(text, "%.4g,%s", value, end);
        } else {
            appendf(text, "%.2f,%s", value, end);
        }
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

const Rules& handSetRules() {
    static const Rules kRules = [] {
        Rules r{};
        r[kRuleBlackThumb] = 3.0f;
        r[kRuleBlackIndex] = 0.75f;
        r[kRuleBlackMiddle] = 0.0f;
        r[kRuleBlackRing] = 0.5f;
        r[kRuleBlackLittle] = 1.5f;
        r[kRuleThumbBlackInChord] = 3.0f;
        r[kRuleRingFinger] = 0.25f;
        r[kRuleLineEnd] = 2.0f;
        r[kRuleCrossIndex] = 6.0f;
        r[kRuleCrossMiddle] = 3.5f;
        r[kRuleCrossRing] = 4.5f;
        r[kRuleCrossStep] = 0.75f;
        r[kRuleThumbClimb] = 3.0f;
        r[kRuleRepeatChange] = 1.0f;
        r[kRuleStretch] = 1.0f;
        r[kRuleStrain] = 2.0f;
        r[kRuleChordSpan] = 2.0f;
        r[kRuleBookChord] = 8.0f;
        r[kRuleLeapTravel] = 0.0f;
        r[kRuleBlackIndexWide] = 0.75f;
        r[kRuleBlackMiddleWide] = 0.0f;
        r[kRuleShiftRight] = 0.0f;
        r[kRuleShiftLeft] = 0.0f;
        return r;
    }();
    return kRules;
}

Costs fitCosts(const Counts& counts, double smoothing,
               const std::array<float, kWeightCount>& weights, const Rules& rules) {
    Costs costs{};
    costs.weight = weights;
    costs.rule = rules;
    auto all = [](int) { return kFingers; };
    // Every table's last level adds the hand (the field `at` of its context) to the context.
    auto poolingOf = [&](const std::function<Fields(int)>& decode, int at) {
        double k[kHands];
        for (int hand = 0; hand < kHands; ++hand) {
            const float w = weights[hand == 0 ? kPoolingRight : kPoolingLeft];
            k[hand] = w > 0.0f ? static_cast<double>(w) : smoothing;
        }
        return std::function<double(int)>(
            [decode, at, k0 = k[0], k1 = k[1]](int c) { return decode(c)[at] == 0 ? k0 : k1; });
    };

    // Transitions: fields interval, finger before, colours, gap, hand.
    const auto transition = [](int c) {
        Fields f{};
        f[1] = c % kFingers;
        c /= kFingers;
        f[3] = c % kGaps;
        c /= kGaps;
        f[2] = c % kColourPairs;
        c /= kColourPairs;
        f[0] = c % kIntervals - kMaxInterval;
        f[4] = c / kIntervals;
        return f;
    };
    smooth(counts.transition, kTransitionSize / kFingers, kFingers, all,
           levelsOf(transition,
                    {{0b00011, 0b00001}, {0b00011, 0}, {0b00111, 0}, {0b01111, 0}, {0b11111, 0}}),
           smoothing, poolingOf(transition, 4), &costs.transition);

    // Chords: fields notes, span, widest gap, colours, hand.
    const auto chord = [](int c) {
        Fields f{};
        f[2] = c % kInner;
        c /= kInner;
        f[3] = c % kColourPairs;
        c /= kColourPairs;
        f[1] = c % kMaxSpan + 1;
        c /= kMaxSpan;
        f[0] = c % kChordSizes + 2;
        f[4] = c / kChordSizes;
        return f;
    };
    smooth(
        counts.chord, kChordSize / kShapes, kShapes, [&](int c) { return shapeCount(chord(c)[0]); },
        levelsOf(chord, {{0b00001, 0},
                         {0b00011, 0b00010},
                         {0b00011, 0},
                         {0b00111, 0},
                         {0b01111, 0},
                         {0b11111, 0}}),
        smoothing, poolingOf(chord, 4), &costs.chord);

    // Line ends: fields kind, colour, hand.
    const auto start = [](int c) {
        Fields f{};
        f[1] = c % 2;
        c /= 2;
        f[0] = c % kLineKinds;
        f[2] = c / kLineKinds;
        return f;
    };
    smooth(counts.start, kStartSize / kFingers, kFingers, all,
           levelsOf(start, {{0b001, 0}, {0b011, 0}, {0b111, 0}}), smoothing, poolingOf(start, 2),
           &costs.start);

    // Figures: fields colour, side before, side after (intervals, or kSpecial and above for none
    // and a chord), the neighbours' colours, hand.
    const auto figure = [](int c) {
        auto side = [](int v) { return v >= kFigureNone ? kSpecial + v : v - kFigureInterval; };
        Fields f{};
        f[3] = c % kColourPairs;
        c /= kColourPairs;
        f[0] = c % 2;
        c /= 2;
        f[2] = side(c % kFigureSides);
        c /= kFigureSides;
        f[1] = side(c % kFigureSides);
        f[4] = c / kFigureSides;
        return f;
    };
    smooth(counts.figure, kFigureSize / kFingers, kFingers, all,
           levelsOf(figure,
                    {{0b00001, 0}, {0b00111, 0b00110}, {0b00111, 0}, {0b01111, 0}, {0b11111, 0}}),
           smoothing, poolingOf(figure, 4), &costs.figure);

    // Places: fields semitones above the lowest key around, below the highest, colour, hand.
    const auto place = [](int c) {
        Fields f{};
        f[2] = c % 2;
        c /= 2;
        f[1] = c % kPlaceSteps;
        c /= kPlaceSteps;
        f[0] = c % kPlaceSteps;
        f[3] = c / kPlaceSteps;
        return f;
    };
    smooth(counts.place, kPlaceSize / kFingers, kFingers, all,
           levelsOf(place, {{0b0011, 0b0011}, {0b0011, 0}, {0b0111, 0}, {0b1111, 0}}), smoothing,
           poolingOf(place, 3), &costs.place);
    return costs;
}

void appendf(std::string* text, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    char line[256];
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n >= 0 && static_cast<size_t>(n) < sizeof line) {
        text->append(line, static_cast<size_t>(n));
    } else if (n >= 0) {
        std::string longer(static_cast<size_t>(n) + 1, '\0');
        std::vsnprintf(longer.data(), longer.size(), format, again);
        text->append(longer.data(), static_cast<size_t>(n));
    }
    va_end(again);
}

std::string tableHeader(const std::vector<std::string>& header) {
    std::string text;
    for (const std::string& line : header) {
        text += "//" + std::string(line.empty() ? "" : " ") + line + "\n";
    }
    return text;
}

std::string costsText(const std::vector<std::string>& header, const Costs& costs) {
    std::string text = tableHeader(header);
    std::string* f = &text;
    appendf(
        f,
        "// weights: transition, chord, line ends, hand-set blend, consistency, figure, place, "
        "learning passes, learning step, pooling right, left, learning runs, resampled, learning "
        "pull, sequence\n{");
    // The weights and rules keep four digits, as the search chose them (a learning step of 0.005,
    // a rule of 3.375): the figures in the header were measured with them.
    appendRow(f, costs.weight.data(), kWeightCount, true);
    appendf(f,
            "},\n// transition[hand][interval %+d..%+d][colours][gap][finger before]"
            "[finger]\n{\n",
            -kMaxInterval, kMaxInterval);
    for (int i = 0; i < kTransitionSize; i += kFingers) {
        appendRow(f, costs.transition.data() + i, kFingers);
    }
    appendf(f, "},\n// chord[hand][notes 2..5][span 1..%d][colours][widest gap][shape]\n{\n",
            kMaxSpan);
    for (int i = 0; i < kChordSize; i += kShapes) {
        appendRow(f, costs.chord.data() + i, kShapes);
    }
    appendf(f, "},\n// line ends[hand][kind][black][finger]\n{\n");
    for (int i = 0; i < kStartSize; i += kFingers) {
        appendRow(f, costs.start.data() + i, kFingers);
    }
    appendf(f, "},\n// figure[hand][before][after][black][neighbours][finger]\n{\n");
    for (int i = 0; i < kFigureSize; i += kFingers) {
        appendRow(f, costs.figure.data() + i, kFingers);
    }
    appendf(f, "},\n// place[hand][above the lowest 0..%d][below the highest][black][finger]\n{\n",
            kPlaceMax);
    for (int i = 0; i < kPlaceSize; i += kFingers) {
        appendRow(f, costs.place.data() + i, kFingers);
    }
    appendf(
        f,
        "},\n// rules: black key thumb .. little finger, thumb black in a chord, ring finger, "
        "line end, crossing index, middle, ring, per semitone, thumb climbing, repeat "
        "with another finger, stretch, strain, chord spans, book chords, leap travel, index and "
        "middle finger black away from chromatic steps, hand's place moving over a crossing right, "
        "left\n{");
    appendRow(f, costs.rule.data(), kRuleCount, true);
    appendf(f, "},\n");
    return text;
}

}  // namespace fitted
