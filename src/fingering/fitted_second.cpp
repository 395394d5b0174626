#include "fingering/fitted_second.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>

namespace fitted {

namespace {

// The table as quorvel-fingering-fit wrote it, with its provenance in the comment at its top.
const SecondOrder kEmbedded = {
#include "../../data/fingering/fitted_second.inc"
};

const SecondOrder* inUse = nullptr;

// The most a cell costs (a probability of about one in 150,000).
constexpr double kMostCost = 12.0;

// A context's fields, as secondIndex packs them.
struct Context {
    int hand, twoBack, oneBack, before, interval, colours;
};

Context decode(int c) {
    Context x{};
    x.colours = c % kColourPairs;
    c /= kColourPairs;
    x.interval = c % kSecondIntervals - kSecondInterval;
    c /= kSecondIntervals;
    x.before = c % kSecondBefore;
    c /= kSecondBefore;
    x.oneBack = c % kFingers;
    c /= kFingers;
    x.twoBack = c % kFingers;
    x.hand = c / kFingers;
    return x;
}

// The key of a context's parent at back-off level `level` (0 the coarsest, kLevels - 1 the full
// context): each level keeps one field more than the one before.
constexpr int kLevels = 6;
long levelKey(const Context& x, int level) {
    long key = x.oneBack;
    key = key * 16 + (level == 0 ? secondBefore(x.interval) + 8 : x.interval + 8);
    key = key * 8 + (level >= 2 ? x.colours : 7);
    key = key * 16 + (level >= 3 ? x.before : 15);
    key = key * 8 + (level >= 4 ? x.twoBack : 7);
    key = key * 4 + (level >= 5 ? x.hand : 3);
    return key * 8 + level;
}

}  // namespace

void SecondCounts::add(const SecondCounts& other) {
    for (size_t i = 0; i < count.size() && i < other.count.size(); ++i) {
        count[i] += other.count[i];
    }
}

const SecondOrder& embeddedSecondOrder() {
    return kEmbedded;
}

void useSecondOrder(const SecondOrder* table) {
    inUse = table;
}

const SecondOrder& secondOrderInUse() {
    return inUse != nullptr ? *inUse : kEmbedded;
}

SecondOrder fitSecondOrder(const SecondCounts& counts, double smoothing, float weight) {
    SecondOrder table{};
    table.weight = weight;
    table.smoothing = static_cast<float>(smoothing);
    std::unordered_map<long, std::array<double, kFingers>> tallies;
    for (int c = 0; c < kSecondContexts; ++c) {
        const Context x = decode(c);
        for (int level = 0; level < kLevels; ++level) {
            std::array<double, kFingers>& t =
                tallies.try_emplace(levelKey(x, level), std::array<double, kFingers>{})
                    .first->second;
            for (int f = 0; f < kFingers; ++f) {
                t[f] += counts.count[c * kFingers + f];
            }
        }
    }
    for (int c = 0; c < kSecondContexts; ++c) {
        const Context x = decode(c);
        std::array<double, kFingers> p;
        p.fill(1.0 / kFingers);
        for (int level = 0; level < kLevels; ++level) {
            const std::array<double, kFingers>& t = tallies[levelKey(x, level)];
            double total = 0.0;
            for (double v : t) {
                total += v;
            }
            for (int f = 0; f < kFingers; ++f) {
                p[f] = (t[f] + smoothing * p[f]) / (total + smoothing);
            }
        }
        for (int f = 0; f < kFingers; ++f) {
            const double cost = p[f] > 0.0 ? -std::log(p[f]) : kMostCost;
            table.cost[c * kFingers + f] = static_cast<float>(std::min(cost, kMostCost));
        }
    }
    return table;
}

std::string secondOrderText(const std::vector<std::string>& header, const SecondOrder& table) {
    std::string text = tableHeader(header);
    if (table.weight <= 0.0f) {
        // Left out: its numbers would only take room. The smoothing stays for the next refit.
        appendf(&text,
                "// weight, smoothing; the costs are left out with the table\n%.3f, %.2f,\n{},\n",
                0.0, static_cast<double>(table.smoothing));
        return text;
    }
    appendf(&text,
            "// weight, smoothing, then cost[hand][finger two back][finger one back][interval "
            "before -4..4][interval now %+d..%+d][colours][finger]\n%.3f, %.2f,\n{\n",
            -kSecondInterval, kSecondInterval, static_cast<double>(table.weight),
            static_cast<double>(table.smoothing));
    for (int i = 0; i < kSecondSize; ++i) {
        appendf(&text, "%.2f,%s", static_cast<double>(table.cost[i]),
                (i + 1) % (kFingers * kColourPairs) == 0 ? "\n" : "");
    }
    return text + "},\n";
}

}  // namespace fitted
