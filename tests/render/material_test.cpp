#include "geometry/material.h"

#include <gtest/gtest.h>

#include "geometry/projection.h"

namespace {

void expectRgba(const float* rgba, float r, float g, float b, float a) {
    EXPECT_EQ(rgba[0], r);
    EXPECT_EQ(rgba[1], g);
    EXPECT_EQ(rgba[2], b);
    EXPECT_EQ(rgba[3], a);
}

TEST(Material, ConstantsHoldTheirColours) {
    expectRgba(handMaterial.ambient, 0.0f, 0.5f, 0.5f, 1.0f);
    expectRgba(handMaterial.diffuse, 0.0f, 0.9f, 0.9f, 1.0f);
    expectRgba(handMaterial.specular, 0.0f, 0.0f, 0.0f, 1.0f);
    EXPECT_EQ(handMaterial.shininess, 0.0f);

    expectRgba(whiteKeyMaterial.ambient, 0.6f, 0.6f, 0.6f, 1.0f);
    expectRgba(whiteKeyPressedMaterial.diffuse, 0.4f, 0.4f, 0.4f, 1.0f);
    expectRgba(whiteKeyPressedMaterial.specular, 0.3f, 0.3f, 0.3f, 1.0f);
    expectRgba(blackKeyMaterial.ambient, 0.1f, 0.0f, 0.0f, 1.0f);
    expectRgba(blackKeyMaterial.specular, 1.0f, 1.0f, 1.0f, 1.0f);
    EXPECT_EQ(blackKeyMaterial.shininess, 8.0f);
    expectRgba(blackKeyPressedMaterial.diffuse, 0.3f, 0.3f, 0.3f, 1.0f);
    EXPECT_EQ(whiteKeyMaterial.shininess, 0.0f);
}

TEST(KeyLook, FullPressSelectsThePressedMaterialAndClamps) {
    float angle = 10.0f;
    KeyLook look = lookOfKey(0.0f, angle);
    EXPECT_EQ(look.material, &whiteKeyPressedMaterial);
    EXPECT_EQ(look.tilt, 10.0f);
    EXPECT_EQ(angle, 10.0f);

    angle = 25.0f;
    look = lookOfKey(0.0f, angle);
    EXPECT_EQ(look.material, &whiteKeyPressedMaterial);
    EXPECT_EQ(angle, 10.0f);  // written back
    EXPECT_EQ(look.tilt, 10.0f);

    angle = 25.0f;
    look = lookOfKey(1.0f, angle);
    EXPECT_EQ(look.material, &blackKeyPressedMaterial);
    EXPECT_EQ(angle, 10.0f);
    EXPECT_EQ(look.tilt, 6.5f);
}

TEST(KeyLook, BelowFullPressKeepsTheRestingMaterialAndTheAngle) {
    float angle = 9.99f;
    KeyLook look = lookOfKey(0.0f, angle);
    EXPECT_EQ(look.material, &whiteKeyMaterial);
    EXPECT_EQ(angle, 9.99f);
    EXPECT_EQ(look.tilt, 9.99f);

    look = lookOfKey(1.0f, angle);
    EXPECT_EQ(look.material, &blackKeyMaterial);
    EXPECT_EQ(angle, 9.99f);
    // 0.65 times the float 9.99, taken in double and rounded once.
    EXPECT_EQ(look.tilt, static_cast<float>(0.65 * static_cast<double>(9.99f)));
    EXPECT_NEAR(look.tilt, 6.4935, 1e-5);

    // A negative angle lifts the key; nothing clamps it from below.
    angle = -3.0f;
    look = lookOfKey(0.0f, angle);
    EXPECT_EQ(look.material, &whiteKeyMaterial);
    EXPECT_EQ(angle, -3.0f);
    EXPECT_EQ(look.tilt, -3.0f);
    look = lookOfKey(1.0f, angle);
    EXPECT_EQ(look.material, &blackKeyMaterial);
    EXPECT_NEAR(look.tilt, -1.95f, 1e-6);

    angle = 0.0f;
    look = lookOfKey(1.0f, angle);
    EXPECT_EQ(look.material, &blackKeyMaterial);
    EXPECT_EQ(look.tilt, 0.0f);
}

TEST(Projection, AspectFollowsTheWindowAndEmptyWindowsKeepTheLastOne) {
    Projection p{};
    ASSERT_TRUE(projectionFor(1000, 500, &p));
    EXPECT_EQ(p.aspect, 2.0);
    EXPECT_EQ(p.fieldOfView, 60.0);
    EXPECT_EQ(p.nearPlane, 0.5);
    EXPECT_EQ(p.farPlane, 15.0);

    ASSERT_TRUE(projectionFor(800, 400, &p));
    EXPECT_EQ(p.aspect, 2.0);
    ASSERT_TRUE(projectionFor(333, 1000, &p));
    EXPECT_DOUBLE_EQ(p.aspect, 0.333);

    // No height or no width: no projection, and the previous one is left as it was.
    EXPECT_FALSE(projectionFor(800, 0, &p));
    EXPECT_DOUBLE_EQ(p.aspect, 0.333);
    EXPECT_FALSE(projectionFor(0, 400, &p));
    EXPECT_FALSE(projectionFor(0, 0, &p));
    EXPECT_FALSE(projectionFor(-5, 10, &p));
    EXPECT_DOUBLE_EQ(p.aspect, 0.333);
    EXPECT_EQ(p.fieldOfView, 60.0);
}

}  // namespace
