#pragma once

#include <GL/glu.h>

// The round solids of the hands, compiled once per distinct shape into a display list and
// replayed afterwards. Tessellating a sphere or a cylinder costs far more than replaying it, and
// the hands only ever use a dozen or so shapes, because their sizes are constants. Replaying a
// list draws the same vertices and normals under the same matrix, so the picture is unchanged.

// ---- Set by tests and benchmarks before drawing; read by every draw of a solid. ----
extern bool shapeCacheEnabled;  // true: replay compiled shapes; false: tessellate on every call
// ---- Set once by drawing without a display, before its first frame; false in the window. ----
extern bool ownSolidShapes;  // true: spheres and cubes from render/solids_gl (no GLUT window
                             // needed); false: GLUT's glutSolidSphere and glutSolidCube

// The most distinct shapes kept. Past it a shape is drawn directly, every time: the memory the
// cache holds stays bounded whatever sizes reach it.
constexpr int kShapeCacheCapacity = 32;

// glutSolidSphere(radius, slices, stacks), replayed from the cache when it is on.
void drawSolidSphere(double radius, int slices, int stacks);

// glutSolidCube(size), or its own-geometry twin when ownSolidShapes is set.
void drawSolidCube(double size);

// gluCylinder(quadric, base, top, height, slices, stacks), replayed from the cache when it is
// on. The list is compiled with the quadric of the first call; callers keep one quadric for the
// run, so its draw style and normals are the same at every call.
void drawCylinder(GLUquadric* quadric, double base, double top, double height, int slices,
                  int stacks);

// How many shapes have been compiled so far: lets tests and the soak run see that the cache
// stops growing once every shape has been drawn once.
int cachedShapeCount();

// Deletes every compiled shape; the next draw of each compiles it again. Needs the GL context
// the shapes were compiled in.
void releaseShapeCache();
