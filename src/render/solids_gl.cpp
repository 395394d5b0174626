#include "render/solids_gl.h"

#include <GL/gl.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {
constexpr double kPi = 3.14159265358979323846;

// Sine and cosine of n + 1 equal steps around a circle (or half a circle), the last entry
// closing it exactly. A negative n steps the other way round.
void circleTable(int n, bool halfCircle, std::vector<float>* sines, std::vector<float>* cosines) {
    const int size = std::abs(n);
    // The step is held in single precision and each multiple of it rounded to single before its
    // sine is taken: that is how GLUT cuts its circles, to the last bit of every vertex.
    const float angle = static_cast<float>(halfCircle ? 1 : 2) * static_cast<float>(kPi) /
                        static_cast<float>(n == 0 ? 1 : n);
    sines->assign(size + 1, 0.0f);
    cosines->assign(size + 1, 0.0f);
    (*sines)[0] = 0.0f;
    (*cosines)[0] = 1.0f;
    for (int i = 1; i < size; ++i) {
        const float step = angle * static_cast<float>(i);
        (*sines)[i] = static_cast<float>(std::sin(static_cast<double>(step)));
        (*cosines)[i] = static_cast<float>(std::cos(static_cast<double>(step)));
    }
    if (halfCircle) {
        (*sines)[size] = 0.0f;
        (*cosines)[size] = -1.0f;
    } else {
        (*sines)[size] = (*sines)[0];
        (*cosines)[size] = (*cosines)[0];
    }
}

void drawArrays(const std::vector<float>& vertices, const std::vector<float>& normals, GLenum mode,
                const GLushort* indices, int count) {
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, vertices.data());
    glNormalPointer(GL_FLOAT, 0, normals.data());
    glDrawElements(mode, count, GL_UNSIGNED_SHORT, indices);
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
}
}  // namespace

void drawOwnSolidSphere(double radius, int slices, int stacks) {
    if (slices < 1 || stacks < 2) {
        return;  // nothing to cut: no triangle
    }
    // Vertices: the top pole, stacks - 1 rings of `slices` points each, the bottom pole. The
    // rings turn clockwise seen from +z, which with the strips below faces every triangle out.
    const float r = static_cast<float>(radius);
    std::vector<float> sin1, cos1, sin2, cos2;
    circleTable(-slices, false, &sin1, &cos1);
    circleTable(stacks, true, &sin2, &cos2);
    const int vertexCount = slices * (stacks - 1) + 2;
    if (vertexCount > 65535) {
        return;  // beyond what 16-bit indices can reach
    }
    std::vector<float> vertices;
    std::vector<float> normals;
    vertices.reserve(vertexCount * 3);
    normals.reserve(vertexCount * 3);
    auto add = [&](float x, float y, float z) {
        vertices.push_back(x * r);
        vertices.push_back(y * r);
        vertices.push_back(z * r);
        normals.push_back(x);
        normals.push_back(y);
        normals.push_back(z);
    };
    add(0.0f, 0.0f, 1.0f);
    for (int i = 1; i < stacks; ++i) {
        for (int j = 0; j < slices; ++j) {
            add(cos1[j] * sin2[i], sin1[j] * sin2[i], cos2[i]);
        }
    }
    add(0.0f, 0.0f, -1.0f);

    // One triangle strip per stack, each going once round: ring below, ring above.
    const int perStrip = (slices + 1) * 2;
    std::vector<GLushort> strips;
    strips.reserve(static_cast<size_t>(perStrip) * stacks);
    auto pair = [&](int lower, int upper) {
        strips.push_back(static_cast<GLushort>(lower));
        strips.push_back(static_cast<GLushort>(upper));
    };
    for (int j = 0; j < slices; ++j) {
        pair(j + 1, 0);
    }
    pair(1, 0);
    for (int i = 0; i < stacks - 2; ++i) {
        const int offset = 1 + i * slices;
        for (int j = 0; j < slices; ++j) {
            pair(offset + j + slices, offset + j);
        }
        pair(offset + slices, offset);
    }
    const int offset = 1 + (stacks - 2) * slices;
    for (int j = 0; j < slices; ++j) {
        pair(vertexCount - 1, offset + j);
    }
    pair(vertexCount - 1, offset);

    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, vertices.data());
    glNormalPointer(GL_FLOAT, 0, normals.data());
    for (int i = 0; i < stacks; ++i) {
        glDrawElements(GL_TRIANGLE_STRIP, perStrip, GL_UNSIGNED_SHORT,
                       strips.data() + static_cast<size_t>(i) * perStrip);
    }
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
}

void drawOwnSolidCube(double size) {
    // Corners of the unit cube, the six faces as corner quadruples (counter-clockwise seen from
    // outside) and one normal per face.
    static const float corners[8][3] = {{.5f, .5f, .5f},   {-.5f, .5f, .5f},  {-.5f, -.5f, .5f},
                                        {.5f, -.5f, .5f},  {.5f, -.5f, -.5f}, {.5f, .5f, -.5f},
                                        {-.5f, .5f, -.5f}, {-.5f, -.5f, -.5f}};
    static const int faces[6][4] = {{0, 1, 2, 3}, {0, 3, 4, 5}, {0, 5, 6, 1},
                                    {1, 6, 7, 2}, {7, 4, 3, 2}, {4, 7, 6, 5}};
    static const float faceNormals[6][3] = {{0, 0, 1},  {1, 0, 0},  {0, 1, 0},
                                            {-1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
    // Each quad as the two triangles (0, 1, 2) and (0, 2, 3).
    static const int split[6] = {0, 1, 2, 0, 2, 3};

    const float s = static_cast<float>(size);
    std::vector<float> vertices;
    std::vector<float> normals;
    std::vector<GLushort> triangles;
    for (int f = 0; f < 6; ++f) {
        for (int c = 0; c < 4; ++c) {
            for (int axis = 0; axis < 3; ++axis) {
                vertices.push_back(s * corners[faces[f][c]][axis]);
                normals.push_back(faceNormals[f][axis]);
            }
        }
        for (int k : split) {
            triangles.push_back(static_cast<GLushort>(f * 4 + k));
        }
    }
    drawArrays(vertices, normals, GL_TRIANGLES, triangles.data(),
               static_cast<int>(triangles.size()));
}
