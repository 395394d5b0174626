#pragma once

// Position and colour of one key.
struct KeyLayoutEntry {
    float x;      // key centre along the keyboard, scene units
    float black;  // 1.0 for a black key, 0.0 for a white key
};

// ---- Set once at start-up by buildKeyLayout, read-only afterwards. ----
extern KeyLayoutEntry KeyLayout[88];  // indexed by key number 0 (A0) .. 87 (C8)

// Fills KeyLayout. Called first thing at start-up.
void buildKeyLayout();

// True when key 0..87 is a black key, by the piano's pattern counted from A0.
bool isBlackKey(int key);
