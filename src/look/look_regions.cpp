#include "look/look_regions.h"

#include <algorithm>
#include <cmath>

#include "look/look_camera.h"

namespace {
// A vertex run whose box is projected as one: short enough to stay tight round a bone, long
// enough that the projections cost little beside building the mesh; whole triangles, so that
// each triangle lies in one box.
constexpr size_t kRun = 3 * 85;
// Pixels beyond a drawn pixel the edge pass may still change (it blends with neighbours), and
// a little more for rounding.
constexpr int kMargin = 3;
// The key bed under the keys reaches a little past them at both ends and below them (as
// addKeyboard builds it, rounded outwards); the regions' test holds every vertex to it.
constexpr float kBedLeft = -8.46f;
constexpr float kBedRight = 8.48f;
constexpr float kBedBottom = -0.31f;
}  // namespace

// ---- Rectangles ----

namespace {
enum class Keep { Outside, Inside };

// Rows cut into bands at every box's top and bottom; in each band the columns that lie in a box
// of `boxes` and in none of `cut` (Outside) or in one of `cut` too (Inside), as runs; a run
// continuing down while it stays the same. The boxes are swept from the top down, so a band
// looks only at the boxes across it: a hand's many small boxes would otherwise be scanned in
// every band.
std::vector<PixelRect> bandCover(const std::vector<PixelRect>& boxes,
                                 const std::vector<PixelRect>& cut, Keep keep, int width,
                                 int height) {
    std::vector<PixelRect> clipped[2];
    std::vector<int> cuts;
    for (int list = 0; list < 2; ++list) {
        for (const PixelRect& box : list == 0 ? boxes : cut) {
            PixelRect c{std::max(box.left, 0), std::max(box.top, 0), std::min(box.right, width),
                        std::min(box.bottom, height)};
            if (c.left >= c.right || c.top >= c.bottom) {
                continue;
            }
            clipped[list].push_back(c);
            cuts.push_back(c.top);
            cuts.push_back(c.bottom);
        }
        std::sort(clipped[list].begin(), clipped[list].end(),
                  [](const PixelRect& a, const PixelRect& b) { return a.top < b.top; });
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    std::vector<PixelRect> cover;
    std::vector<PixelRect> open;  // the previous band's runs, still growing downwards
    std::vector<PixelRect> active[2];
    size_t entered[2] = {0, 0};
    std::vector<std::pair<int, int>> merged[2];
    std::vector<std::pair<int, int>> kept;
    std::vector<PixelRect> next;
    for (size_t band = 0; band + 1 < cuts.size(); ++band) {
        const int top = cuts[band];
        const int bottom = cuts[band + 1];
        for (int list = 0; list < 2; ++list) {
            // The boxes across the band (every box starts and ends on a cut), kept in the order
            // of their left edges as they come and go, so that no band sorts them again.
            std::vector<PixelRect>& across = active[list];
            across.erase(std::remove_if(across.begin(), across.end(),
                                        [&](const PixelRect& c) { return c.bottom <= top; }),
                         across.end());
            while (entered[list] < clipped[list].size() &&
                   clipped[list][entered[list]].top <= top) {
                const PixelRect& c = clipped[list][entered[list]++];
                across.insert(std::upper_bound(across.begin(), across.end(), c,
                                               [](const PixelRect& a, const PixelRect& b) {
                                                   return a.left < b.left;
                                               }),
                              c);
            }
            merged[list].clear();
            for (const PixelRect& c : across) {
                const std::pair<int, int> run(c.left, c.right);
                if (!merged[list].empty() && run.first <= merged[list].back().second) {
                    merged[list].back().second = std::max(merged[list].back().second, run.second);
                } else {
                    merged[list].push_back(run);
                }
            }
        }
        // The runs less (or within) the cut's, both sorted and each within itself apart.
        kept.clear();
        size_t c = 0;
        for (auto run : merged[0]) {
            while (c < merged[1].size() && merged[1][c].second <= run.first) {
                ++c;
            }
            for (size_t k = c; k < merged[1].size() && merged[1][k].first < run.second; ++k) {
                if (keep == Keep::Inside) {
                    kept.emplace_back(std::max(run.first, merged[1][k].first),
                                      std::min(run.second, merged[1][k].second));
                    continue;
                }
                if (merged[1][k].first > run.first) {
                    kept.emplace_back(run.first, merged[1][k].first);
                }
                run.first = std::max(run.first, merged[1][k].second);
            }
            if (keep == Keep::Outside && run.first < run.second) {
                kept.push_back(run);
            }
        }
        // A run equal to one of the band above continues it; the others of the band above end.
        next.clear();
        for (const auto& run : kept) {
            auto same = std::find_if(open.begin(), open.end(), [&](const PixelRect& r) {
                return r.left == run.first && r.right == run.second && r.bottom == top;
            });
            if (same != open.end()) {
                PixelRect grown = *same;
                grown.bottom = bottom;
                open.erase(same);
                next.push_back(grown);
            } else {
                next.push_back({run.first, top, run.second, bottom});
            }
        }
        cover.insert(cover.end(), open.begin(), open.end());
        open.swap(next);
    }
    cover.insert(cover.end(), open.begin(), open.end());
    return cover;
}
}  // namespace

std::vector<PixelRect> disjointCover(const std::vector<PixelRect>& boxes, int width, int height) {
    return bandCover(boxes, {}, Keep::Outside, width, height);
}

std::vector<PixelRect> coverWithout(const std::vector<PixelRect>& boxes,
                                    const std::vector<PixelRect>& cut, int width, int height) {
    return bandCover(boxes, cut, Keep::Outside, width, height);
}

std::vector<PixelRect> coverWithin(const std::vector<PixelRect>& boxes,
                                   const std::vector<PixelRect>& within, int width, int height) {
    return bandCover(boxes, within, Keep::Inside, width, height);
}

std::vector<PixelRect> widened(std::vector<PixelRect> boxes, int margin) {
    for (PixelRect& box : boxes) {
        box.left -= margin;
        box.top -= margin;
        box.right += margin;
        box.bottom += margin;
    }
    return boxes;
}

// ---- The picture's regions ----

namespace {
// The box of a 3-D box's projection (its eight corners'), widened by `margin`; false when a
// corner lies behind the eye.
bool boxOf(const LookCamera& camera, glm::vec3 low, glm::vec3 high, int margin, PixelRect* box) {
    double left = 1e30;
    double right = -1e30;
    double top = 1e30;
    double bottom = -1e30;
    for (int corner = 0; corner < 8; ++corner) {
        const glm::vec3 p((corner & 1) ? high.x : low.x, (corner & 2) ? high.y : low.y,
                          (corner & 4) ? high.z : low.z);
        double column = 0.0;
        double row = 0.0;
        if (!projectLook(camera, p, &column, &row)) {
            return false;
        }
        left = std::min(left, column);
        right = std::max(right, column);
        top = std::min(top, row);
        bottom = std::max(bottom, row);
    }
    const double limit = 1e6;
    *box = {static_cast<int>(std::floor(std::max(left, -limit))) - margin,
            static_cast<int>(std::floor(std::max(top, -limit))) - margin,
            static_cast<int>(std::ceil(std::min(right, limit))) + margin,
            static_cast<int>(std::ceil(std::min(bottom, limit))) + margin};
    return true;
}

// The bounds of vertices [first, end) of a mesh (first < end).
void runBounds(const std::vector<MeshVertex>& v, size_t first, size_t end, glm::vec3* low,
               glm::vec3* high) {
    *low = *high = glm::vec3(v[first].x, v[first].y, v[first].z);
    for (size_t i = first + 1; i < end; ++i) {
        const glm::vec3 p(v[i].x, v[i].y, v[i].z);
        *low = glm::min(*low, p);
        *high = glm::max(*high, p);
    }
}

// addMeshBoxes, and with `shadow` also the box of each run's shadow: the run's 3-D box's
// corners moved by it (a flattening is affine, so the run's shadow lies within theirs), kept
// to the keys from their hinge to their front as the shadows are drawn.
bool addRunBoxes(const LookCamera& camera, const LookMesh& mesh, const glm::mat4* shadow,
                 int margin, std::vector<PixelRect>* boxes) {
    const std::vector<MeshVertex>& v = mesh.vertices;
    for (size_t start = 0; start < v.size(); start += kRun) {
        const size_t end = std::min(v.size(), start + kRun);
        glm::vec3 low, high;
        runBounds(v, start, end, &low, &high);
        // A box's projection lies within its eight corners' (a box is convex, and the eye is
        // outside it when every corner lies in front of it).
        PixelRect box;
        if (!boxOf(camera, low, high, margin, &box)) {
            return false;
        }
        boxes->push_back(box);
        if (shadow != nullptr) {
            glm::vec3 shadowLow(1e30f);
            glm::vec3 shadowHigh(-1e30f);
            for (int corner = 0; corner < 8; ++corner) {
                const glm::vec4 p((corner & 1) ? high.x : low.x, (corner & 2) ? high.y : low.y,
                                  (corner & 4) ? high.z : low.z, 1.0f);
                const glm::vec3 flat(*shadow * p);
                shadowLow = glm::min(shadowLow, flat);
                shadowHigh = glm::max(shadowHigh, flat);
            }
            shadowLow.z = std::max(shadowLow.z, kLookHingeZ);
            shadowHigh.z = std::min(shadowHigh.z, kLookWhiteFront);
            if (shadowLow.z > shadowHigh.z) {
                continue;  // the run's shadow falls beside the keys, where none is drawn
            }
            if (!boxOf(camera, shadowLow, shadowHigh, margin, &box)) {
                return false;
            }
            boxes->push_back(box);
        }
    }
    return true;
}
}  // namespace

bool addMeshBoxes(const LookCamera& camera, const LookMesh& mesh, int margin,
                  std::vector<PixelRect>* boxes) {
    return addRunBoxes(camera, mesh, nullptr, margin, boxes);
}

namespace {
// The keyboard's box as built: the keys and the bed, and a little more for a held key's turn
// about its hinge (its top's back edge moves back, its front's lower edge forward).
bool keyboardBox(const LookCamera& camera, PixelRect* box) {
    const float turn = 0.02f;
    return boxOf(camera, {kBedLeft, kBedBottom, kLookHingeZ - turn},
                 {kBedRight, kLookBlackTop, kLookWhiteFront + turn}, kMargin, box);
}
}  // namespace

bool keyboardRegion(const LookCamera& camera, PixelRect* box) {
    return keyboardBox(camera, box);
}

std::vector<PixelRect> sceneRegions(const LookPicture& picture, const LookMesh* const* hands,
                                    int handCount) {
    const LookCamera& camera = picture.camera;
    const PixelRect whole{0, 0, camera.width, camera.height};
    std::vector<PixelRect> boxes(1);
    if (!keyboardBox(camera, &boxes[0])) {
        return {whole};
    }
    // Each hand, and its shadow flattened onto the white keys' tops as it is drawn (it may fall
    // beside the keyboard's ends).
    const glm::mat4 shadow = shadowProjection(kLookWhiteTop + 0.002f);
    for (int h = 0; h < handCount; ++h) {
        if (hands[h] != nullptr && !addRunBoxes(camera, *hands[h], &shadow, kMargin, &boxes)) {
            return {whole};
        }
    }
    return disjointCover(boxes, camera.width, camera.height);
}

std::vector<PixelRect> sceneRegions(const LookPicture& picture,
                                    const std::vector<PixelRect>& handBoxes) {
    const LookCamera& camera = picture.camera;
    std::vector<PixelRect> boxes(1);
    if (!keyboardBox(camera, &boxes[0])) {
        return {PixelRect{0, 0, camera.width, camera.height}};
    }
    const std::vector<PixelRect> around = widened(handBoxes, kMargin);
    boxes.insert(boxes.end(), around.begin(), around.end());
    return disjointCover(boxes, camera.width, camera.height);
}

// ---- What differs from the keyboard at rest ----

namespace {
// The box of vertices [first, end) of a mesh as the camera sees them (margin 0).
bool runBox(const LookCamera& camera, const std::vector<MeshVertex>& v, size_t first, size_t end,
            PixelRect* box) {
    glm::vec3 low, high;
    runBounds(v, first, end, &low, &high);
    return boxOf(camera, low, high, 0, box);
}

bool sameVertex(const MeshVertex& a, const MeshVertex& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z && a.nx == b.nx && a.ny == b.ny && a.nz == b.nz &&
           a.r == b.r && a.g == b.g && a.b == b.b;
}
}  // namespace

bool handBoxes(const LookCamera& camera, const LookMesh* const* hands, int handCount,
               std::vector<PixelRect>* boxes) {
    const glm::mat4 shadow = shadowProjection(kLookWhiteTop + 0.002f);
    for (int h = 0; h < handCount; ++h) {
        if (hands[h] != nullptr && !addRunBoxes(camera, *hands[h], &shadow, 0, boxes)) {
            return false;
        }
    }
    return true;
}

bool keyChangeBoxes(const LookCamera& camera, const LookMesh& keyboard, const LookMesh& rest,
                    size_t run, std::vector<PixelRect>* boxes) {
    if (run == 0 || keyboard.vertices.size() != rest.vertices.size()) {
        return false;
    }
    const std::vector<MeshVertex>& now = keyboard.vertices;
    const std::vector<MeshVertex>& still = rest.vertices;
    for (size_t first = 0; first < now.size(); first += run) {
        const size_t end = std::min(now.size(), first + run);
        bool same = true;
        for (size_t i = first; i < end && same; ++i) {
            same = sameVertex(now[i], still[i]);
        }
        if (same) {
            continue;
        }
        PixelRect box;
        if (!runBox(camera, now, first, end, &box)) {
            return false;
        }
        boxes->push_back(box);
        if (!runBox(camera, still, first, end, &box)) {
            return false;
        }
        boxes->push_back(box);
    }
    return true;
}

std::vector<std::pair<size_t, size_t>> runsMeeting(const LookCamera& camera, const LookMesh& mesh,
                                                   size_t run,
                                                   const std::vector<PixelRect>& rects) {
    std::vector<std::pair<size_t, size_t>> ranges;
    const std::vector<MeshVertex>& v = mesh.vertices;
    if (run == 0) {
        if (!v.empty()) {
            ranges.emplace_back(0, v.size());
        }
        return ranges;
    }
    for (size_t first = 0; first < v.size(); first += run) {
        const size_t end = std::min(v.size(), first + run);
        PixelRect box;
        // A pixel is drawn where its centre lies inside a triangle, so within the box's floor
        // and ceiling; a run the projection cannot box is drawn.
        bool meets = !runBox(camera, v, first, end, &box);
        for (size_t r = 0; r < rects.size() && !meets; ++r) {
            meets = box.left < rects[r].right && rects[r].left < box.right &&
                    box.top < rects[r].bottom && rects[r].top < box.bottom;
        }
        if (!meets) {
            continue;
        }
        if (!ranges.empty() && ranges.back().first + ranges.back().second == first) {
            ranges.back().second += end - first;
        } else {
            ranges.emplace_back(first, end - first);
        }
    }
    return ranges;
}
