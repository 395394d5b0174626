#include "app/window_gl.h"

#include <GL/glut.h>

#include "app/platform.h"
#include "app/state.h"
#include "render/scene_gl.h"

// TODO(window): the full window start-up.
void runWindow(int argc, char** argv) {
    glutInit(&argc, argv);
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(800, 400);
    glutInitWindowPosition(100, 100);
    glutCreateWindow("Quorvel");
    glutDisplayFunc(onDisplay);
    glutMainLoop();
}
