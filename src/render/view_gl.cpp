#include "render/view_gl.h"

#include <GL/glu.h>

#include <algorithm>

#include "geometry/player_view.h"
#include "geometry/projection.h"

void setViewProjection(int width, int height) {
    Projection projection;
    if (!projectionFor(width, height, &projection)) {
        return;
    }
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(projection.fieldOfView, projection.aspect, projection.nearPlane,
                   std::max(projection.farPlane, viewFarPlane));
    glMatrixMode(GL_MODELVIEW);
    glViewport(0, 0, width, height);
}
