#define GL_GLEXT_PROTOTYPES 1
#include "render/smooth_gl.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>

// Sections: the edge shader; the off-screen target; the pass; the picture at rest.

namespace {
// ---- The edge shader ----

// Colours are premultiplied by their coverage (the strip is cleared to transparent black), so
// blending a pixel with its neighbour blends coverage too and the result lies over the picture
// as it is. Edges are found on brightness as seen over the background.
const char* const kEdgeShader = R"(#version 130
uniform sampler2D strip;
uniform vec3 under;
// The picture's row (from the bottom) of the strip's first texel row: the strip holds only its
// own rows, texel for pixel. A pixel's own texel is fetched whole, without the coordinate
// arithmetic and wrapping of a filtered look-up, which the software renderer pays for on every
// pixel of the strip.
uniform int below;
ivec2 last;
vec4 at(ivec2 p) {
    return texelFetch(strip, clamp(p, ivec2(0), last), 0);
}
float brightness(vec4 c) {
    return dot(c.rgb + (1.0 - c.a) * under, vec3(0.299, 0.587, 0.114));
}
void main() {
    last = textureSize(strip, 0) - 1;
    ivec2 p = ivec2(gl_FragCoord.xy) - ivec2(0, below);
    vec4 m = texelFetch(strip, p, 0);
    vec4 n = at(p + ivec2(0, 1));
    vec4 s = at(p - ivec2(0, 1));
    vec4 e = at(p + ivec2(1, 0));
    vec4 w = at(p - ivec2(1, 0));
    float lm = brightness(m);
    float ln = brightness(n);
    float ls = brightness(s);
    float le = brightness(e);
    float lw = brightness(w);
    float high = max(lm, max(max(ln, ls), max(le, lw)));
    float low = min(lm, min(min(ln, ls), min(le, lw)));
    float range = high - low;
    if (range < max(0.04, high * 0.1)) {
        gl_FragColor = m;
        return;
    }
    // Which way the edge runs: along the rows when the brightness changes most between rows;
    // the pixel is blended with its neighbour across the edge, on the side of the larger step.
    vec4 across;
    if (abs(ln - ls) + abs(ln + ls - 2.0 * lm) >= abs(le - lw) + abs(le + lw - 2.0 * lm)) {
        across = abs(ln - lm) >= abs(ls - lm) ? n : s;
    } else {
        across = abs(le - lm) >= abs(lw - lm) ? e : w;
    }
    // How much of the pixel lies on the other side: the further its brightness from its
    // neighbours', the more it is a step of the stairs.
    float around = (ln + ls + le + lw) * 0.25;
    float amount = clamp(abs(around - lm) / range, 0.0, 1.0);
    amount = amount * amount * (3.0 - 2.0 * amount);
    gl_FragColor = mix(m, across, 0.5 * amount);
}
)";

// The picture at rest laid as it was kept: the texel of each pixel, which holds what the edge
// shader gave there.
const char* const kKeptShader = R"(#version 130
uniform sampler2D kept;
void main() {
    gl_FragColor = texelFetch(kept, ivec2(gl_FragCoord.xy), 0);
}
)";

GLuint program = 0;
bool programFailed = false;
GLint underAt = -1;
GLint belowAt = -1;
GLuint keptProgram = 0;

GLuint compileProgram(const char* source) {
    const GLuint shader = glCreateShader(GL_FRAGMENT_SHADER);
    if (shader == 0) {
        return 0;
    }
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) {
        glDeleteShader(shader);
        return 0;
    }
    const GLuint made = glCreateProgram();
    glAttachShader(made, shader);
    glLinkProgram(made);
    glDeleteShader(shader);
    glGetProgramiv(made, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        glDeleteProgram(made);
        return 0;
    }
    return made;
}

bool makeProgram() {
    if (program != 0 || programFailed) {
        return program != 0;
    }
    programFailed = true;
    const GLuint made = compileProgram(kEdgeShader);
    if (made == 0) {
        return false;
    }
    program = made;
    programFailed = false;
    glUseProgram(program);
    glUniform1i(glGetUniformLocation(program, "strip"), 0);
    underAt = glGetUniformLocation(program, "under");
    belowAt = glGetUniformLocation(program, "below");
    glUseProgram(0);
    return true;
}

// ---- The off-screen target ----

// The target holds the strip's rows only (rounded up, so that it is not remade for every row
// the hands rise or fall). Cleared whole, it takes the renderer's fast clear, which fills memory
// tile by tile; a clear limited to some rows is drawn as a rectangle through the whole pixel
// pipeline, about three times the processor time for the strip of a 1920 x 1080 picture.
constexpr int kRowStep = 32;
// A target this many rows taller than needed is remade smaller: every frame clears all of it.
constexpr int kSpareRows = 2 * kRowStep;

GLuint framebuffer = 0;
GLuint colour = 0;  // texture
GLuint depth = 0;   // renderbuffer, depth and stencil
int targetWidth = 0;
int targetRows = 0;

bool makeTarget(int width, int rows) {
    if (framebuffer != 0 && width == targetWidth && rows <= targetRows &&
        rows + kSpareRows > targetRows) {
        return true;
    }
    const int height = (rows + kRowStep - 1) / kRowStep * kRowStep;
    if (framebuffer == 0) {
        glGenFramebuffers(1, &framebuffer);
        glGenTextures(1, &colour);
        glGenRenderbuffers(1, &depth);
    }
    GLint boundTexture = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &boundTexture);
    glBindTexture(GL_TEXTURE_2D, colour);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(boundTexture));
    glBindRenderbuffer(GL_RENDERBUFFER, depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colour, 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    targetWidth = complete ? width : 0;
    targetRows = complete ? height : 0;
    return complete;
}

// ---- The pass ----

GLint outerFramebuffer = 0;
GLint outerDrawBuffer = GL_BACK;
int pictureWidth = 0;
int pictureHeight = 0;
int stripTop = 0;
int stripBottom = 0;
}  // namespace

namespace {
// Binds the strip's target for the picture's rows top..bottom and clears it whole: colour
// transparent (unless `colourToo` is false), stencil 0, depth `depthValue`. Keeps what
// endSmoothStrip restores.
bool enterStrip(int width, int height, int top, int bottom, float depthValue,
                bool colourToo = true) {
    if (width <= 0 || height <= 0 || top >= bottom) {
        return false;
    }
    GLint outer = 0;
    GLint outerBuffer = GL_BACK;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &outer);
    glGetIntegerv(GL_DRAW_BUFFER, &outerBuffer);
    if (!makeProgram() || !makeTarget(width, bottom - top)) {
        glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(outer));
        return false;
    }
    outerFramebuffer = outer;
    outerDrawBuffer = outerBuffer;
    pictureWidth = width;
    pictureHeight = height;
    stripTop = top;
    stripBottom = bottom;
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    // The whole target, which holds the strip's rows from its bottom row up.
    glPushAttrib(GL_COLOR_BUFFER_BIT | GL_SCISSOR_BIT | GL_STENCIL_BUFFER_BIT |
                 GL_DEPTH_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearStencil(0);
    glClearDepth(depthValue);
    glClear((colourToo ? GL_COLOR_BUFFER_BIT : 0) | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glPopAttrib();
    // The picture's projection lands on the target shifted down by the rows below the strip, so
    // every pixel is drawn as it would be in the picture (the shift is a whole number of rows).
    glPushAttrib(GL_VIEWPORT_BIT);
    glViewport(0, -(height - bottom), width, height);
    return true;
}

// Each rectangle's pixels, kept to the strip's rows, as one quad each in GL's coordinates from
// the bottom, with the identity matrices.
void drawRects(const std::vector<PixelRect>& regions) {
    const float w = static_cast<float>(pictureWidth);
    const float h = static_cast<float>(pictureHeight);
    glBegin(GL_QUADS);
    for (const PixelRect& r : regions) {
        const int top = std::max(r.top, stripTop);
        const int bottom = std::min(r.bottom, stripBottom);
        const int left = std::max(r.left, 0);
        const int right = std::min(r.right, pictureWidth);
        if (top >= bottom || left >= right) {
            continue;
        }
        const float x0 = static_cast<float>(left) / w * 2.0f - 1.0f;
        const float x1 = static_cast<float>(right) / w * 2.0f - 1.0f;
        const float y0 = (h - static_cast<float>(bottom)) / h * 2.0f - 1.0f;
        const float y1 = (h - static_cast<float>(top)) / h * 2.0f - 1.0f;
        glVertex2f(x0, y0);
        glVertex2f(x1, y0);
        glVertex2f(x1, y1);
        glVertex2f(x0, y1);
    }
    glEnd();
}

// The picture at rest: a picture-sized texture and the framebuffer that writes it.
GLuint restFramebuffer = 0;
GLuint restColour = 0;
int restWidth = 0;
int restHeight = 0;
bool restFailed = false;

// Draws `rects` over the framebuffer bound from the texture `source` through the program
// `through` (the edge shader, told the colour `under` the strip, or the kept picture's plain
// copy): blended as premultiplied colours, or written as they come.
void passRects(const std::vector<PixelRect>& rects, GLuint source, GLuint through, bool blend,
               const GLfloat under[3]) {
    glPushAttrib(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_ENABLE_BIT | GL_TEXTURE_BIT |
                 GL_LIGHTING_BIT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_SCISSOR_TEST);
    if (blend) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);  // premultiplied
    } else {
        glDisable(GL_BLEND);
    }
    glActiveTexture(GL_TEXTURE0);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, source);
    glUseProgram(through);
    if (through == program) {
        glUniform3f(underAt, under[0], under[1], under[2]);
        glUniform1i(belowAt, pictureHeight - stripBottom);
    }
    // The shader reads the texel under each pixel.
    drawRects(rects);
    glUseProgram(0);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
}

// Lays rectangles over the framebuffer bound, premultiplied, from the texture `source` through
// `through`: the strip's with the edge shader, or the picture at rest's.
void layRects(const std::vector<PixelRect>& rects, GLuint source, GLuint through) {
    GLfloat background[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, background);
    passRects(rects, source, through, true, background);
}
}  // namespace

bool beginSmoothStrip(int width, int height, int top, int bottom) {
    return enterStrip(width, height, top, bottom, 1.0f);
}

void endSmoothStrip() {
    endSmoothStrip({PixelRect{0, stripTop, pictureWidth, stripBottom}});
}

void endSmoothStrip(const std::vector<PixelRect>& regions) {
    glPopAttrib();  // the picture's viewport
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(outerFramebuffer));
    glDrawBuffer(static_cast<GLenum>(outerDrawBuffer));
    layRects(regions, colour, program);
}

// ---- The picture at rest ----

bool beginSmoothStrip(int width, int height, int top, int bottom,
                      const std::vector<PixelRect>& redraw) {
    // The colour outside `redraw` is never read (the pass reads the strip only within the
    // rectangles it smooths and their neighbours, all inside), so only the depth is cleared
    // whole: the target's colour is as much memory to fill again as its depth and stencil.
    if (!enterStrip(width, height, top, bottom, 0.0f, false)) {
        return false;
    }
    // Cleared as the whole strip would be, rectangle by rectangle (the target's rows from the
    // bottom: picture row r is target row bottom - 1 - r).
    glPushAttrib(GL_COLOR_BUFFER_BIT | GL_SCISSOR_BIT | GL_STENCIL_BUFFER_BIT |
                 GL_DEPTH_BUFFER_BIT);
    glEnable(GL_SCISSOR_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearStencil(0);
    glClearDepth(1.0);
    for (const PixelRect& r : redraw) {
        const int left = std::max(r.left, 0);
        const int right = std::min(r.right, width);
        const int low = std::max(bottom - r.bottom, 0);
        const int high = std::min(bottom - r.top, targetRows);
        if (left >= right || low >= high) {
            continue;
        }
        glScissor(left, low, right - left, high - low);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    }
    glPopAttrib();
    return true;
}

int smoothStripTargetRows() {
    return targetRows;
}

void layRestPicture(int width, int height, int top, int bottom,
                    const std::vector<PixelRect>& kept) {
    if (keptProgram == 0 || restWidth != width || restHeight != height || kept.empty()) {
        return;
    }
    pictureWidth = width;
    pictureHeight = height;
    stripTop = top;
    stripBottom = bottom;
    layRects(kept, restColour, keptProgram);
}

bool beginRestPicture(int width, int height, int top) {
    if (restFailed || width <= 0 || height <= 0 || top < 0 || top >= height) {
        return false;
    }
    if (keptProgram == 0) {
        keptProgram = compileProgram(kKeptShader);
        if (keptProgram == 0) {
            restFailed = true;
            return false;
        }
        glUseProgram(keptProgram);
        glUniform1i(glGetUniformLocation(keptProgram, "kept"), 0);
        glUseProgram(0);
    }
    if (restFramebuffer == 0 || restWidth != width || restHeight != height) {
        if (restFramebuffer == 0) {
            glGenFramebuffers(1, &restFramebuffer);
            glGenTextures(1, &restColour);
        }
        GLint boundTexture = 0;
        GLint outer = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &boundTexture);
        glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &outer);
        glBindTexture(GL_TEXTURE_2D, restColour);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                     nullptr);
        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(boundTexture));
        glBindFramebuffer(GL_FRAMEBUFFER, restFramebuffer);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, restColour, 0);
        const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
        glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(outer));
        restWidth = complete ? width : 0;
        restHeight = complete ? height : 0;
        if (!complete) {
            restFailed = true;
            return false;
        }
    }
    // The strip of the keyboard's rows only, about as tall as a frame's strip, so that its target
    // is not remade for it and again for the next frame.
    return enterStrip(width, height, top, height, 1.0f);
}

bool endRestPicture() {
    glPopAttrib();  // the picture's viewport
    GLfloat background[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, background);
    glBindFramebuffer(GL_FRAMEBUFFER, restFramebuffer);
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glPushAttrib(GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT | GL_VIEWPORT_BIT);
    glViewport(0, 0, pictureWidth, pictureHeight);
    // Transparent above the strip; the shader writes the strip's rows.
    glDisable(GL_SCISSOR_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    // What the shader gives, as it is: laying it later blends it as the pass would.
    passRects({PixelRect{0, stripTop, pictureWidth, pictureHeight}}, colour, program, false,
              background);
    glPopAttrib();
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(outerFramebuffer));
    glDrawBuffer(static_cast<GLenum>(outerDrawBuffer));
    return glGetError() == GL_NO_ERROR;
}
