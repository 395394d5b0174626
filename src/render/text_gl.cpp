#include "render/text_gl.h"

#include <GL/gl.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstdio>
#include <map>
#include <vector>

namespace {
// Where Debian's fonts-dejavu-core puts the font.
constexpr const char* kFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
constexpr int kFirstChar = 32;
constexpr int kLastChar = 126;
constexpr int kAtlasWidth = 1024;

FT_Library library = nullptr;
FT_Face face = nullptr;
bool tried = false;

struct Glyph {
    float u0, v0, u1, v1;  // texture coordinates
    int width, rows;       // bitmap size, pixels
    int left, top;         // bitmap offset from the pen, pixels (top: up from the baseline)
    float advance;         // pixels
};

struct Atlas {
    GLuint texture = 0;
    Glyph glyphs[kLastChar - kFirstChar + 1];
    float capital = 0.0f;  // height of the capitals, pixels
};

// One atlas per pixel size asked for (a picture asks for two or three).
std::map<int, Atlas> atlases;

bool loadFont() {
    if (tried) {
        return face != nullptr;
    }
    tried = true;
    if (FT_Init_FreeType(&library) != 0) {
        library = nullptr;
    } else if (FT_New_Face(library, kFontPath, 0, &face) != 0) {
        face = nullptr;
    }
    if (face == nullptr) {
        std::fprintf(stderr, "No font at %s (install fonts-dejavu-core); drawing without text\n",
                     kFontPath);
        std::fflush(stderr);
        return false;
    }
    return true;
}

const Atlas* atlasFor(int size) {
    auto found = atlases.find(size);
    if (found != atlases.end()) {
        return &found->second;
    }
    if (!loadFont() || FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(size)) != 0) {
        return nullptr;
    }
    Atlas atlas;
    // First the bitmaps side by side in rows, then one upload.
    const int cell = size * 2 + 2;
    const int perRow = kAtlasWidth / cell;
    const int rowsNeeded = (kLastChar - kFirstChar + 1 + perRow - 1) / perRow;
    int height = 1;
    while (height < rowsNeeded * cell) {
        height *= 2;
    }
    std::vector<unsigned char> pixels(static_cast<size_t>(kAtlasWidth) * height, 0);
    for (int c = kFirstChar; c <= kLastChar; ++c) {
        Glyph& g = atlas.glyphs[c - kFirstChar];
        g = Glyph{0, 0, 0, 0, 0, 0, 0, 0, 0.0f};
        if (FT_Load_Char(face, static_cast<FT_ULong>(c), FT_LOAD_RENDER) != 0) {
            continue;
        }
        const FT_GlyphSlot slot = face->glyph;
        const int index = c - kFirstChar;
        const int x0 = (index % perRow) * cell + 1;
        const int y0 = (index / perRow) * cell + 1;
        const int w = std::min<int>(static_cast<int>(slot->bitmap.width), cell - 2);
        const int h = std::min<int>(static_cast<int>(slot->bitmap.rows), cell - 2);
        for (int row = 0; row < h; ++row) {
            for (int col = 0; col < w; ++col) {
                pixels[static_cast<size_t>(y0 + row) * kAtlasWidth + x0 + col] =
                    slot->bitmap.buffer[row * slot->bitmap.pitch + col];
            }
        }
        g.width = w;
        g.rows = h;
        g.left = slot->bitmap_left;
        g.top = slot->bitmap_top;
        g.advance = static_cast<float>(slot->advance.x) / 64.0f;
        g.u0 = static_cast<float>(x0) / kAtlasWidth;
        g.v0 = static_cast<float>(y0) / height;
        g.u1 = static_cast<float>(x0 + w) / kAtlasWidth;
        g.v1 = static_cast<float>(y0 + h) / height;
        if (c == 'H') {
            atlas.capital = static_cast<float>(slot->bitmap_top);
        }
    }
    glGenTextures(1, &atlas.texture);
    glBindTexture(GL_TEXTURE_2D, atlas.texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA, kAtlasWidth, height, 0, GL_ALPHA, GL_UNSIGNED_BYTE,
                 pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    return &(atlases[size] = atlas);
}

int sizeOf(float height) {
    return std::max(6, static_cast<int>(std::lround(height)));
}
}  // namespace

bool textAvailable() {
    return loadFont();
}

float textWidth(const std::string& text, float height) {
    const Atlas* atlas = atlasFor(sizeOf(height));
    if (atlas == nullptr) {
        return 0.0f;
    }
    float width = 0.0f;
    for (unsigned char c : text) {
        if (c >= kFirstChar && c <= kLastChar) {
            width += atlas->glyphs[c - kFirstChar].advance;
        }
    }
    return width;
}

void drawText(const std::string& text, float x, float y, float height, TextAlign align, float r,
              float g, float b, float a) {
    const Atlas* atlas = atlasFor(sizeOf(height));
    if (atlas == nullptr || text.empty()) {
        return;
    }
    float pen = x;
    const float width = textWidth(text, height);
    if (align == TextAlign::Centre) {
        pen -= width / 2.0f;
    } else if (align == TextAlign::Right) {
        pen -= width;
    }
    pen = std::round(pen);
    const float baseline = std::round(y + atlas->capital / 2.0f);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, atlas->texture);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glColor4f(r, g, b, a);
    glBegin(GL_QUADS);
    for (unsigned char c : text) {
        if (c < kFirstChar || c > kLastChar) {
            continue;
        }
        const Glyph& gl = atlas->glyphs[c - kFirstChar];
        const float left = pen + static_cast<float>(gl.left);
        const float top = baseline - static_cast<float>(gl.top);
        glTexCoord2f(gl.u0, gl.v0);
        glVertex2f(left, top);
        glTexCoord2f(gl.u1, gl.v0);
        glVertex2f(left + static_cast<float>(gl.width), top);
        glTexCoord2f(gl.u1, gl.v1);
        glVertex2f(left + static_cast<float>(gl.width), top + static_cast<float>(gl.rows));
        glTexCoord2f(gl.u0, gl.v1);
        glVertex2f(left, top + static_cast<float>(gl.rows));
        pen += gl.advance;
    }
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
}

void forgetTextTextures() {
    for (auto& entry : atlases) {
        if (entry.second.texture != 0) {
            glDeleteTextures(1, &entry.second.texture);
        }
    }
    atlases.clear();
}
