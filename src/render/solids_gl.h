#pragma once

// Solid spheres and cubes from geometry of our own, cut into the same triangles, with the same
// vertices, normals and drawing order as GLUT's glutSolidSphere and glutSolidCube, so a picture
// drawn with them matches the window's. GLUT's own solids need a GLUT window; these need only a
// current GL context, which is what drawing without a display has.

// A sphere about the origin: `slices` around the z axis, `stacks` from +z to -z.
void drawOwnSolidSphere(double radius, int slices, int stacks);

// A cube about the origin with edges `size` long, parallel to the axes.
void drawOwnSolidCube(double size);
