#pragma once

// Surface reflectance handed to the fixed-function lighting, applied to front and back faces.
struct Material {
    float ambient[4];   // ambient reflectance, RGBA
    float diffuse[4];   // diffuse reflectance, RGBA
    float specular[4];  // specular reflectance, RGBA
    float shininess;    // specular exponent
};

// ---- Constants for the whole run. ----
extern const Material handMaterial;             // cyan, both hands
extern const Material whiteKeyMaterial;         // white key at rest
extern const Material whiteKeyPressedMaterial;  // white key fully down: darker grey
extern const Material blackKeyMaterial;         // black key at rest
extern const Material blackKeyPressedMaterial;  // black key fully down: lighter grey

// A key's press angle from which it counts as fully down, in degrees; larger angles are clamped
// to it.
constexpr float kFullPressAngle = 10.0f;

// What the keyboard drawing needs to draw one key.
struct KeyLook {
    const Material* material;  // pressed or resting material of the key's colour
    float tilt;                // rotation about the hinge, degrees; positive lowers the front
};

// Chooses the material and tilt of one key and clamps its stored angle: an angle of
// kFullPressAngle or more selects the pressed material and is written back as exactly
// kFullPressAngle. Black keys tilt by 0.65 of the angle, so their shorter bodies travel about as
// far as the white ones. black is the key table's colour flag (1.0 or 0.0).
KeyLook lookOfKey(float black, float& angle);

// Applies a material to front and back faces (ambient, diffuse, specular, shininess). Needs a
// current GL context.
void setMaterial(Material material);
