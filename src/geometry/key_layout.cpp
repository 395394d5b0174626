#include "geometry/key_layout.h"

KeyLayoutEntry KeyLayout[88];

namespace {
// Centre of A0, the lowest key.
constexpr float kFirstKeyX = -8.19f;
// Distance between two neighbouring white keys.
constexpr double kWhiteStep = 0.315;
// Distance between a black key and its white neighbour.
constexpr double kHalfStep = 0.1575;
}  // namespace

bool isBlackKey(int key) {
    // Semitone within the octave, counted from C; A0 is key 0, so C is key 3.
    static const bool kBlackInOctave[12] = {false, true,  false, true,  false, false,
                                            true,  false, true,  false, true,  false};
    int semitone = ((key - 3) % 12 + 12) % 12;
    return kBlackInOctave[semitone];
}

void buildKeyLayout() {
    float x = kFirstKeyX;
    for (int key = 0; key < 88; ++key) {
        bool black = isBlackKey(key);
        KeyLayout[key].x = x;
        KeyLayout[key].black = black ? 1.0f : 0.0f;
        bool nextBlack = key + 1 < 88 && isBlackKey(key + 1);
        // Two white keys in a row (B-C, E-F) are a whole white key apart; otherwise half of it.
        double step = (!black && !nextBlack) ? kWhiteStep : kHalfStep;
        x = static_cast<float>(x + step);
    }
}
