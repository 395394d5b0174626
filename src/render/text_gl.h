#pragma once

#include <string>

// Text in pictures: the glyphs of a packaged font (DejaVu Sans Bold, from fonts-dejavu-core)
// rasterised by FreeType into one texture per size, drawn as textured quads. Only printable
// ASCII is drawn; other bytes are skipped. Needs a current GL context; drawn in a 2-D pass whose
// units are pixels with rows growing downwards (glOrtho(0, w, h, 0, ...)).

enum class TextAlign { Left, Centre, Right };

// Loads the font the first time; false (and one line on standard error, once) when it cannot
// be had: pictures are then drawn without text.
bool textAvailable();

// Draws `text` with its baseline's middle (Centre), start (Left) or end (Right) at x and the
// middle of its capitals at y. `height` is the pixel size of the font.
void drawText(const std::string& text, float x, float y, float height, TextAlign align, float r,
              float g, float b, float a);

// The width the text would take at that size, pixels (0 without the font).
float textWidth(const std::string& text, float height);

// Frees the textures (the next drawing makes them again, for the context then current).
void forgetTextTextures();
