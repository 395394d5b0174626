#pragma once

#include <utility>
#include <vector>

#include "look/look_frame.h"
#include "look/look_mesh.h"

// Where the smoothed strip of a picture has anything to smooth: the keyboard's projected box,
// and around each hand drawn and its shadow the boxes their triangles cover, as rectangles that
// do not overlap (each pixel is laid over the picture once). The edge pass costs the software
// renderer by the pixel, and below the keys the hands leave most of the width empty.
//
// Sections: rectangles; the picture's regions; what differs from the keyboard at rest.

// ---- Rectangles ----

// Pixels from the top-left corner; right and bottom are one past the last column and row.
struct PixelRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// Rectangles that do not overlap and cover exactly the union of `boxes` clipped to the
// width x height picture (empty boxes add nothing): bands of rows between the boxes' edges,
// each band's covered columns merged into runs, a run continuing down while it stays the same.
std::vector<PixelRect> disjointCover(const std::vector<PixelRect>& boxes, int width, int height);

// Rectangles that do not overlap and cover exactly the pixels of the picture that lie in the
// union of `boxes` and not in the union of `cut` (either may overlap within itself).
std::vector<PixelRect> coverWithout(const std::vector<PixelRect>& boxes,
                                    const std::vector<PixelRect>& cut, int width, int height);

// The same for the pixels in the union of `boxes` and in the union of `within`.
std::vector<PixelRect> coverWithin(const std::vector<PixelRect>& boxes,
                                   const std::vector<PixelRect>& within, int width, int height);

// Each box widened by `margin` pixels on every side.
std::vector<PixelRect> widened(std::vector<PixelRect> boxes, int margin);

// ---- The picture's regions ----

// The boxes covering a mesh's triangles as the camera sees them: the triangles in runs of a few
// hundred vertices (a mesh is built part by part, so a run lies close together), each run's
// box in the scene projected, widened by `margin` pixels. False when a vertex lies behind the eye.
bool addMeshBoxes(const LookCamera& camera, const LookMesh& mesh, int margin,
                  std::vector<PixelRect>* boxes);

// The disjoint rectangles of the picture the keyboard (its box as built, a held key's turn
// included), the given hand meshes and their shadows on the keys cover; the whole picture when
// the keyboard or a hand reaches behind the eye.
std::vector<PixelRect> sceneRegions(const LookPicture& picture, const LookMesh* const* hands,
                                    int handCount);

// ---- What differs from the keyboard at rest ----

// The boxes (not widened) of every pixel the given hand meshes and their shadows on the keys
// may cover, appended to `boxes`; false when a vertex lies behind the eye.
bool handBoxes(const LookCamera& camera, const LookMesh* const* hands, int handCount,
               std::vector<PixelRect>* boxes);

// The keyboard's projected box as sceneRegions takes it (widened for the pass's neighbours);
// false when a corner lies behind the eye.
bool keyboardRegion(const LookCamera& camera, PixelRect* box);

// sceneRegions from the hands' boxes as handBoxes gives them.
std::vector<PixelRect> sceneRegions(const LookPicture& picture,
                                    const std::vector<PixelRect>& handBoxes);

// The boxes (not widened) of the keys that differ from the keyboard at rest: each run of `run`
// vertices of `keyboard` that differs from the same run of `rest`, both where it is and where
// it was, appended to `boxes`. With the hands' boxes, every pixel where the strip of a frame
// may differ from the strip of the keyboard alone at rest. False when a vertex lies behind the
// eye or the two keyboards are not built alike.
bool keyChangeBoxes(const LookCamera& camera, const LookMesh& keyboard, const LookMesh& rest,
                    size_t run, std::vector<PixelRect>* boxes);

// The runs of `run` vertices of `mesh` whose projected box meets one of `rects`, as ranges of
// whole runs (first vertex, vertex count), in the mesh's order, neighbours merged. A run behind
// the eye is taken.
std::vector<std::pair<size_t, size_t>> runsMeeting(const LookCamera& camera, const LookMesh& mesh,
                                                   size_t run, const std::vector<PixelRect>& rects);
