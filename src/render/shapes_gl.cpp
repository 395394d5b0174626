#include "render/shapes_gl.h"

#include <GL/glut.h>

#include "render/solids_gl.h"

bool shapeCacheEnabled = true;
bool ownSolidShapes = false;

namespace {
void solidSphere(double radius, int slices, int stacks) {
    if (ownSolidShapes) {
        drawOwnSolidSphere(radius, slices, stacks);
    } else {
        glutSolidSphere(radius, slices, stacks);
    }
}

enum ShapeKind { SphereShape, CylinderShape };

// One compiled shape and the arguments it was compiled with.
struct CachedShape {
    ShapeKind kind;
    double base;    // sphere radius, or the cylinder's radius at z = 0
    double top;     // the cylinder's radius at z = height; 0 for a sphere
    double height;  // the cylinder's length; 0 for a sphere
    int slices;
    int stacks;
    GLuint list;
};

CachedShape shapes[kShapeCacheCapacity];
int shapeCount = 0;

// The list for a shape, or 0 when it has none and cannot get one now.
GLuint findShape(ShapeKind kind, double base, double top, double height, int slices, int stacks) {
    for (int i = 0; i < shapeCount; ++i) {
        const CachedShape& s = shapes[i];
        // Exact comparison on purpose: the sizes are constants, and a shape that differs in the
        // last bit must not be drawn from another's vertices.
        if (s.kind == kind && s.base == base && s.top == top && s.height == height &&
            s.slices == slices && s.stacks == stacks) {
            return s.list;
        }
    }
    return 0;
}

// Starts compiling a new list for a shape, or returns 0 when the shape must be drawn directly:
// the cache is full, GL has no list name to give, or a list is being compiled already (lists
// cannot nest, and the shape then simply goes into the outer list).
GLuint beginShape(ShapeKind kind, double base, double top, double height, int slices, int stacks) {
    if (shapeCount == kShapeCacheCapacity) {
        return 0;
    }
    GLint compiling = 0;
    glGetIntegerv(GL_LIST_INDEX, &compiling);
    if (compiling != 0) {
        return 0;
    }
    GLuint list = glGenLists(1);
    if (list == 0) {
        return 0;
    }
    shapes[shapeCount++] = CachedShape{kind, base, top, height, slices, stacks, list};
    glNewList(list, GL_COMPILE);
    return list;
}
}  // namespace

void drawSolidSphere(double radius, int slices, int stacks) {
    if (!shapeCacheEnabled) {
        solidSphere(radius, slices, stacks);
        return;
    }
    GLuint list = findShape(SphereShape, radius, 0.0, 0.0, slices, stacks);
    if (list == 0) {
        list = beginShape(SphereShape, radius, 0.0, 0.0, slices, stacks);
        solidSphere(radius, slices, stacks);
        if (list == 0) {
            return;
        }
        glEndList();
    }
    glCallList(list);
}

void drawSolidCube(double size) {
    if (ownSolidShapes) {
        drawOwnSolidCube(size);
    } else {
        glutSolidCube(size);
    }
}

void drawCylinder(GLUquadric* quadric, double base, double top, double height, int slices,
                  int stacks) {
    if (!shapeCacheEnabled) {
        gluCylinder(quadric, base, top, height, slices, stacks);
        return;
    }
    GLuint list = findShape(CylinderShape, base, top, height, slices, stacks);
    if (list == 0) {
        list = beginShape(CylinderShape, base, top, height, slices, stacks);
        gluCylinder(quadric, base, top, height, slices, stacks);
        if (list == 0) {
            return;
        }
        glEndList();
    }
    glCallList(list);
}

int cachedShapeCount() {
    return shapeCount;
}

void releaseShapeCache() {
    for (int i = 0; i < shapeCount; ++i) {
        glDeleteLists(shapes[i].list, 1);
    }
    shapeCount = 0;
}
