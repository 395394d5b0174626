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
}  // namespace

// ---- Rectangles ----

std::vector<PixelRect> disjointCover(const std::vector<PixelRect>& boxes, int width, int height) {
    std::vector<PixelRect> clipped;
    std::vector<int> cuts;
    for (const PixelRect& box : boxes) {
        PixelRect c{std::max(box.left, 0), std::max(box.top, 0), std::min(box.right, width),
                    std::min(box.bottom, height)};
        if (c.left >= c.right || c.top >= c.bottom) {
            continue;
        }
        clipped.push_back(c);
        cuts.push_back(c.top);
        cuts.push_back(c.bottom);
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    std::vector<PixelRect> cover;
    std::vector<PixelRect> open;  // the previous band's runs, still growing downwards
    std::vector<std::pair<int, int>> runs;
    for (size_t band = 0; band + 1 < cuts.size(); ++band) {
        const int top = cuts[band];
        const int bottom = cuts[band + 1];
        runs.clear();
        for (const PixelRect& c : clipped) {
            if (c.top <= top && c.bottom >= bottom) {
                runs.emplace_back(c.left, c.right);
            }
        }
        std::sort(runs.begin(), runs.end());
        std::vector<std::pair<int, int>> merged;
        for (const auto& run : runs) {
            if (!merged.empty() && run.first <= merged.back().second) {
                merged.back().second = std::max(merged.back().second, run.second);
            } else {
                merged.push_back(run);
            }
        }
        // A run equal to one of the band above continues it; the others of the band above end.
        std::vector<PixelRect> next;
        for (const auto& run : merged) {
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

// ---- The picture's regions ----

bool addMeshBoxes(const LookCamera& camera, const LookMesh& mesh, int margin,
                  std::vector<PixelRect>* boxes) {
    const std::vector<MeshVertex>& v = mesh.vertices;
    for (size_t start = 0; start < v.size(); start += kRun) {
        const size_t end = std::min(v.size(), start + kRun);
        glm::vec3 low(v[start].x, v[start].y, v[start].z);
        glm::vec3 high = low;
        for (size_t i = start + 1; i < end; ++i) {
            const glm::vec3 p(v[i].x, v[i].y, v[i].z);
            low = glm::min(low, p);
            high = glm::max(high, p);
        }
        // A box's projection lies within its eight corners' (a box is convex, and the eye is
        // outside it when every corner lies in front of it).
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
        // Far outside the picture the figures only need to stay within an int.
        const double limit = 1e6;
        boxes->push_back({static_cast<int>(std::floor(std::max(left, -limit))) - margin,
                          static_cast<int>(std::floor(std::max(top, -limit))) - margin,
                          static_cast<int>(std::ceil(std::min(right, limit))) + margin,
                          static_cast<int>(std::ceil(std::min(bottom, limit))) + margin});
    }
    return true;
}

std::vector<PixelRect> sceneRegions(const LookPicture& picture, const LookMesh* const* hands,
                                    int handCount) {
    const LookCamera& camera = picture.camera;
    const PixelRect whole{0, 0, camera.width, camera.height};
    // The keyboard's rows: its box, the keys' travel and the bed's edge included.
    double highest = camera.height;
    double lowest = 0.0;
    for (float x : {kKeyboardLeft - 0.2f, 0.0f, kKeyboardRight + 0.2f}) {
        for (float z : {-0.9f, 0.9f}) {
            for (float y : {0.07f - 0.3f, 0.07f + 0.3f}) {
                double column = 0.0;
                double row = 0.0;
                if (!projectLook(camera, {x, y, z}, &column, &row)) {
                    return {whole};
                }
                highest = std::min(highest, row);
                lowest = std::max(lowest, row);
            }
        }
    }
    std::vector<PixelRect> boxes;
    boxes.push_back({0, static_cast<int>(std::floor(highest)) - kMargin, camera.width,
                     static_cast<int>(std::ceil(lowest)) + kMargin});
    for (int h = 0; h < handCount; ++h) {
        if (hands[h] != nullptr && !addMeshBoxes(camera, *hands[h], kMargin, &boxes)) {
            return {whole};
        }
    }
    return disjointCover(boxes, camera.width, camera.height);
}
