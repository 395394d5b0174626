// The new look's triangles over the bundled sonata: every triangle of the keyboard and of both
// hands faces the way its normals say (the drawing culls the faces turned away, so a triangle
// wound the wrong way would leave a hole in a hand), every vertex is finite and lies on the body
// it belongs to, held keys are turned down in their hand's colour, and the shadow's matrix puts
// each point on the keys' plane along the light.

#include "look/look_mesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "app/state.h"
#include "fingering/planner.h"
#include "geometry/key_layout.h"
#include "score/musicxml_reader.h"
#include "score/score_model.h"
#include "support/sonata_look.h"
#include "timeline/timeline.h"

namespace {
glm::vec3 position(const MeshVertex& v) {
    return {v.x, v.y, v.z};
}

glm::vec3 normal(const MeshVertex& v) {
    return {v.nx, v.ny, v.nz};
}

// Counts the triangles whose winding disagrees with their vertices' normals, and fails on a
// vertex that is not finite or a normal that is not of unit length.
int wrongWay(const LookMesh& mesh, const std::string& what) {
    EXPECT_EQ(mesh.vertices.size() % 3, 0u) << what;
    int wrong = 0;
    for (size_t i = 0; i + 2 < mesh.vertices.size(); i += 3) {
        const glm::vec3 a = position(mesh.vertices[i]);
        const glm::vec3 b = position(mesh.vertices[i + 1]);
        const glm::vec3 c = position(mesh.vertices[i + 2]);
        const glm::vec3 face = glm::cross(b - a, c - a);
        const glm::vec3 mean =
            normal(mesh.vertices[i]) + normal(mesh.vertices[i + 1]) + normal(mesh.vertices[i + 2]);
        for (size_t k = i; k < i + 3; ++k) {
            const MeshVertex& v = mesh.vertices[k];
            EXPECT_TRUE(std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z)) << what;
            EXPECT_NEAR(glm::length(normal(v)), 1.0f, 1e-3f) << what;
        }
        // Slivers too thin to have a side are left alone.
        if (glm::length(face) > 1e-7f && glm::dot(face, mean) <= 0.0f) {
            ++wrong;
        }
    }
    return wrong;
}
}  // namespace

TEST(LookMesh, EveryTriangleFacesOutwardsAndEveryVertexLiesOnItsBody) {
    LookPerformance performance;
    ASSERT_TRUE(sonataLookPerformance(&performance));
    const LookPalette palette;
    int heldSeen = 0;
    for (int i = 0; i < 240; ++i) {
        const double t = performance.duration * i / 240.0;
        const LookPicture picture = lookPictureAt(performance, LookView::Player, 1280, 720, t);
        const std::string when = "at " + std::to_string(t) + " s";

        LookMesh keys;
        addKeyboard(picture.frame, palette, &keys);
        ASSERT_EQ(wrongWay(keys, "keyboard " + when), 0) << when;
        // The bed and 88 keys of five faces, two triangles each.
        ASSERT_EQ(keys.vertices.size(), static_cast<size_t>((1 + 88) * 5 * 6)) << when;
        for (int key = 0; key < 88; ++key) {
            const int hand = picture.frame.keys[key].hand;
            if (hand < 0) {
                continue;
            }
            ++heldSeen;
            // Somewhere in the keyboard's triangles, this key's top in its hand's colour,
            // dipped at the front below the keys at rest.
            bool found = false;
            for (const MeshVertex& v : keys.vertices) {
                if (std::fabs(v.x - KeyLayout[key].x) < 0.16f && v.r == palette.hand[hand].r &&
                    v.g == palette.hand[hand].g && v.b == palette.hand[hand].b && v.ny > 0.99f &&
                    v.z > 0.0f) {
                    const float restTop = isBlackKey(key) ? kLookBlackTop : kLookWhiteTop;
                    found = found || v.y < restTop - 0.02f;
                }
            }
            EXPECT_TRUE(found) << "held key " << key << " " << when;
        }

        for (const HandPose& pose : picture.hands) {
            LookMesh hand;
            addHand(pose, palette, &hand);
            ASSERT_GT(hand.vertices.size(), 3000u);
            ASSERT_EQ(wrongWay(hand, "hand " + when), 0) << when;
            // Every vertex near a bone of the hand, the palm or the forearm: nothing flies off.
            for (const MeshVertex& v : hand.vertices) {
                const glm::vec3 p = position(v);
                float nearest = glm::length(p - pose.wrist);
                nearest = std::min(nearest, glm::length(p - pose.palm));
                const glm::vec3 arm = pose.wrist - pose.elbowward;
                const float along =
                    std::clamp(glm::dot(p - pose.elbowward, arm) / glm::dot(arm, arm), 0.0f, 1.0f);
                nearest = std::min(nearest, glm::length(p - (pose.elbowward + arm * along)));
                for (const FingerPose& finger : pose.fingers) {
                    for (const glm::vec3& joint : finger.joint) {
                        nearest = std::min(nearest, glm::length(p - joint));
                    }
                }
                ASSERT_LT(nearest, 0.75f) << when;
            }
        }
    }
    EXPECT_GT(heldSeen, 100);

    // The shadow's matrix: a point goes along the light onto the plane, and a point on the
    // plane stays where it is.
    const glm::vec3 light(kLookLight[0], kLookLight[1], kLookLight[2]);
    const glm::mat4 flatten = shadowProjection(0.15f);
    for (const glm::vec3 p : {glm::vec3(0.3f, 0.9f, 0.4f), glm::vec3(-4.0f, 0.2f, 1.5f),
                              glm::vec3(2.0f, 0.15f, -0.5f)}) {
        const glm::vec4 q = flatten * glm::vec4(p, 1.0f);
        EXPECT_NEAR(q.w, 1.0f, 1e-6f);
        EXPECT_NEAR(q.y, 0.15f, 1e-5f);
        const glm::vec3 back = p - glm::vec3(q);
        // What was taken off is along the light.
        EXPECT_NEAR(glm::length(glm::cross(back, light)), 0.0f, 1e-4f);
    }
}
