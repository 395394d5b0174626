#include "render/scene_gl.h"

#include <GL/glut.h>

// TODO(window): the scene.
void onDisplay() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glutSwapBuffers();
}
void onReshape(int, int) {}
void setUpLighting() {}
