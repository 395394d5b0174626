#include "export/headless_gl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <cstring>

#include "export/faults.h"
#include "render/scene_gl.h"
#include "render/shapes_gl.h"
#include "render/view_gl.h"

namespace {
// The one context of the process, made on first use.
EGLDisplay display = EGL_NO_DISPLAY;
EGLContext context = EGL_NO_CONTEXT;

// Framebuffer objects are not in GL 1.x's library exports; EGL hands out their entry points.
PFNGLGENFRAMEBUFFERSPROC genFramebuffers = nullptr;
PFNGLBINDFRAMEBUFFERPROC bindFramebuffer = nullptr;
PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers = nullptr;
PFNGLGENRENDERBUFFERSPROC genRenderbuffers = nullptr;
PFNGLBINDRENDERBUFFERPROC bindRenderbuffer = nullptr;
PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers = nullptr;
PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage = nullptr;
PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer = nullptr;
PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus = nullptr;

// The framebuffer of the current size.
GLuint framebuffer = 0;
GLuint colourBuffer = 0;
GLuint depthBuffer = 0;
int frameWidth = 0;
int frameHeight = 0;

std::string eglReason(const char* what) {
    char code[32];
    std::snprintf(code, sizeof code, "0x%04X", static_cast<unsigned>(eglGetError()));
    return std::string(what) + " failed (EGL error " + code + ")";
}

template <typename T>
bool entryPoint(const char* name, T* function) {
    *function = reinterpret_cast<T>(eglGetProcAddress(name));
    return *function != nullptr;
}

// Gives up a display that was initialised but could not give a working context.
void dropDisplay() {
    if (display != EGL_NO_DISPLAY) {
        eglTerminate(display);
        display = EGL_NO_DISPLAY;
    }
}

bool makeContext(std::string* error) {
    if (context != EGL_NO_CONTEXT) {
        return true;
    }
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (exportCallFails() || getPlatformDisplay == nullptr) {
        *error = "drawing without a display needs EGL's platform displays, which are missing";
        return false;
    }
    if (exportCallFails() ||
        (display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY,
                                      nullptr)) == EGL_NO_DISPLAY) {
        display = EGL_NO_DISPLAY;
        *error = eglReason("opening Mesa's surfaceless EGL display");
        return false;
    }
    EGLint major = 0;
    EGLint minor = 0;
    if (exportCallFails() || eglInitialize(display, &major, &minor) != EGL_TRUE) {
        *error = eglReason("initialising EGL");
        display = EGL_NO_DISPLAY;
        return false;
    }
    // The drawing is fixed-function OpenGL: desktop GL, compatibility profile (the default when
    // no version is asked for).
    if (exportCallFails() || eglBindAPI(EGL_OPENGL_API) != EGL_TRUE) {
        *error = eglReason("choosing desktop OpenGL");
        dropDisplay();
        return false;
    }
    const EGLint wanted[] = {EGL_SURFACE_TYPE,
                             EGL_PBUFFER_BIT,
                             EGL_RENDERABLE_TYPE,
                             EGL_OPENGL_BIT,
                             EGL_RED_SIZE,
                             8,
                             EGL_GREEN_SIZE,
                             8,
                             EGL_BLUE_SIZE,
                             8,
                             EGL_DEPTH_SIZE,
                             24,
                             EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configs = 0;
    if (exportCallFails() || eglChooseConfig(display, wanted, &config, 1, &configs) != EGL_TRUE ||
        configs < 1) {
        *error = eglReason("finding an OpenGL configuration");
        dropDisplay();
        return false;
    }
    if (exportCallFails() ||
        (context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr)) == EGL_NO_CONTEXT) {
        context = EGL_NO_CONTEXT;
        *error = eglReason("making an OpenGL context");
        dropDisplay();
        return false;
    }
    // No surface at all: the framebuffer below is where everything is drawn.
    if (exportCallFails() ||
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) != EGL_TRUE) {
        *error = eglReason("making the OpenGL context current");
        eglDestroyContext(display, context);
        context = EGL_NO_CONTEXT;
        dropDisplay();
        return false;
    }
    if (!entryPoint("glGenFramebuffers", &genFramebuffers) ||
        !entryPoint("glBindFramebuffer", &bindFramebuffer) ||
        !entryPoint("glDeleteFramebuffers", &deleteFramebuffers) ||
        !entryPoint("glGenRenderbuffers", &genRenderbuffers) ||
        !entryPoint("glBindRenderbuffer", &bindRenderbuffer) ||
        !entryPoint("glDeleteRenderbuffers", &deleteRenderbuffers) ||
        !entryPoint("glRenderbufferStorage", &renderbufferStorage) ||
        !entryPoint("glFramebufferRenderbuffer", &framebufferRenderbuffer) ||
        !entryPoint("glCheckFramebufferStatus", &checkFramebufferStatus)) {
        *error = "the OpenGL context has no framebuffer objects";
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(display, context);
        context = EGL_NO_CONTEXT;
        dropDisplay();
        return false;
    }

    // The window's GL state, set once as its start-up does.
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glEnable(GL_DEPTH_TEST);
    setUpLighting();
    glEnable(GL_LIGHTING);
    // Without a GLUT window GLUT's solids cannot be drawn; ours are cut the same way.
    ownSolidShapes = true;
    return true;
}
}  // namespace

bool openHeadless(int width, int height, std::string* error) {
    if (width <= 0 || height <= 0) {
        *error = "a picture needs a width and a height of at least one pixel";
        return false;
    }
    if (!makeContext(error)) {
        return false;
    }
    closeHeadless();
    genFramebuffers(1, &framebuffer);
    bindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    genRenderbuffers(1, &colourBuffer);
    bindRenderbuffer(GL_RENDERBUFFER, colourBuffer);
    renderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colourBuffer);
    genRenderbuffers(1, &depthBuffer);
    bindRenderbuffer(GL_RENDERBUFFER, depthBuffer);
    renderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
    framebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depthBuffer);
    const bool complete =
        !exportCallFails() && checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (!complete) {
        *error = "no off-screen framebuffer of " + std::to_string(width) + "x" +
                 std::to_string(height) + " pixels can be made";
        closeHeadless();
        return false;
    }
    frameWidth = width;
    frameHeight = height;
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    setViewProjection(width, height);
    return true;
}

void drawHeadlessFrame() {
    // What onDisplay does, less the swap: there is no window to show it in.
    drawFrame();
}

void finishHeadlessDrawing() {
    glFinish();
}

bool readHeadlessPixels(std::vector<uint8_t>* rgba, std::string* error, bool topFirst) {
    if (framebuffer == 0) {
        *error = "no off-screen framebuffer is open";
        return false;
    }
    const size_t row = static_cast<size_t>(frameWidth) * 4;
    rgba->resize(row * static_cast<size_t>(frameHeight));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, frameWidth, frameHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba->data());
    if (exportCallFails() || glGetError() != GL_NO_ERROR) {
        *error = "reading the drawn picture back from OpenGL failed";
        return false;
    }
    if (!topFirst) {
        return true;
    }
    // GL counts rows from the bottom; pictures and videos from the top.
    std::vector<uint8_t> swap(row);
    for (int top = 0, bottom = frameHeight - 1; top < bottom; ++top, --bottom) {
        uint8_t* a = rgba->data() + row * top;
        uint8_t* b = rgba->data() + row * bottom;
        std::memcpy(swap.data(), a, row);
        std::memcpy(a, b, row);
        std::memcpy(b, swap.data(), row);
    }
    return true;
}

void closeHeadless() {
    if (context == EGL_NO_CONTEXT) {
        return;
    }
    if (framebuffer != 0) {
        bindFramebuffer(GL_FRAMEBUFFER, 0);
        deleteFramebuffers(1, &framebuffer);
        framebuffer = 0;
    }
    if (colourBuffer != 0) {
        deleteRenderbuffers(1, &colourBuffer);
        colourBuffer = 0;
    }
    if (depthBuffer != 0) {
        deleteRenderbuffers(1, &depthBuffer);
        depthBuffer = 0;
    }
    frameWidth = 0;
    frameHeight = 0;
}
