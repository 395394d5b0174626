#include "geometry/material.h"

const Material handMaterial = {
    {0.0f, 0.5f, 0.5f, 1.0f}, {0.0f, 0.9f, 0.9f, 1.0f}, {0.0f, 0.0f, 0.0f, 1.0f}, 0.0f};
const Material whiteKeyMaterial = {
    {0.6f, 0.6f, 0.6f, 1.0f}, {0.6f, 0.6f, 0.6f, 1.0f}, {0.3f, 0.3f, 0.3f, 1.0f}, 0.0f};
const Material whiteKeyPressedMaterial = {
    {0.4f, 0.4f, 0.4f, 1.0f}, {0.4f, 0.4f, 0.4f, 1.0f}, {0.3f, 0.3f, 0.3f, 1.0f}, 0.0f};
const Material blackKeyMaterial = {
    {0.1f, 0.0f, 0.0f, 1.0f}, {0.1f, 0.0f, 0.0f, 1.0f}, {1.0f, 1.0f, 1.0f, 1.0f}, 8.0f};
const Material blackKeyPressedMaterial = {
    {0.3f, 0.3f, 0.3f, 1.0f}, {0.3f, 0.3f, 0.3f, 1.0f}, {1.0f, 1.0f, 1.0f, 1.0f}, 8.0f};

namespace {
// Black keys are shorter; they turn by this share of the press angle.
constexpr double kBlackTiltShare = 0.65;
}  // namespace

KeyLook lookOfKey(float black, float& angle) {
    bool isBlack = black == 1.0f;
    bool pressed = angle >= kFullPressAngle;
    if (pressed) {
        // The drawing keeps the stored angle within reach of the animation's next step.
        angle = kFullPressAngle;
    }
    KeyLook look;
    if (isBlack) {
        look.material = pressed ? &blackKeyPressedMaterial : &blackKeyMaterial;
        look.tilt = static_cast<float>(kBlackTiltShare * angle);
    } else {
        look.material = pressed ? &whiteKeyPressedMaterial : &whiteKeyMaterial;
        look.tilt = angle;
    }
    return look;
}
