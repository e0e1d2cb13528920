#include <gtest/gtest.h>

#include <array>
#include <string>

#include "scene/SceneBytes.h"
#include "scene/SceneDocument.h"
#include "scene/SceneFile.h"

using quorvex::scene::SharedList;

// Copies share one list; a change to any of them is its own.
TEST(SharedList, CopiesShareUntilOneIsChanged) {
    SharedList<int> a = {1, 2, 3};
    SharedList<int> b = a;
    EXPECT_EQ(a.Identity(), b.Identity());
    b.push_back(4);
    EXPECT_NE(a.Identity(), b.Identity());
    EXPECT_EQ(a.size(), 3u);
    EXPECT_EQ(b.size(), 4u);
    a.Edit()[0] = 9;
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(a[0], 9);

    SharedList<int> empty;
    EXPECT_EQ(empty.Identity(), nullptr);
    EXPECT_EQ(empty.data(), nullptr);
    EXPECT_TRUE(empty.begin() == empty.end());
}

// A document as bytes comes back whole: every field of every example and of a
// fixture with keyed meshes, note tracks and embedded pictures travels, and
// keyed meshes share their repeated topology again.
TEST(SceneBytes, DocumentsComeBackWholeAndDamagedBytesAreRefused) {
    for (const char* scene : {"/examples/windmill/windmill.scene.json", "/tests/fixtures/triangle.scene.json",
                              "/tests/fixtures/no-material.scene.json"}) {
        quorvex::scene::SceneDocument document;
        quorvex::scene::LoadError loadError;
        ASSERT_TRUE(quorvex::scene::LoadSceneFile(std::string(QUORVEX_SOURCE_DIR) + scene, document, loadError))
            << loadError.message;
        std::string error;
        const std::string bytes = quorvex::scene::SceneDocumentBytes(document);
        quorvex::scene::SceneDocument back;
        ASSERT_TRUE(quorvex::scene::ReadSceneDocumentBytes(bytes, back, error)) << scene << ": " << error;
        EXPECT_EQ(quorvex::scene::SceneDocumentBytes(back), bytes) << scene;
        EXPECT_EQ(back.baseDir, document.baseDir);
    }
    quorvex::scene::SceneDocument document;
    quorvex::scene::NodeData node;
    node.object = quorvex::scene::ObjectData{};
    quorvex::scene::MeshData mesh;
    mesh.verts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    mesh.faces = {{0, 1, 2}};
    node.object->mesh.keys = {{0, mesh}, {160, mesh}};
    document.nodes.push_back(node);
    const std::string bytes = quorvex::scene::SceneDocumentBytes(document);
    quorvex::scene::SceneDocument back;
    std::string why;
    ASSERT_TRUE(quorvex::scene::ReadSceneDocumentBytes(bytes, back, why)) << why;
    const auto& keys = back.nodes[0].object->mesh.keys;
    EXPECT_EQ(keys[0].value.faces.Identity(), keys[1].value.faces.Identity());

    struct Case {
        std::string bytes;
        const char* why;
    };
    const Case cases[] = {
        {"", "not a scene document"},
        {"{\"version\": 1}", "not a scene document"},
        {bytes.substr(0, bytes.size() - 1), "a value runs past the end of the document"},
        {bytes + "x", "the bytes hold more than the document"},
        // The node count made huge: refused before any memory is taken for it.
        {bytes.substr(0, 8 + 4 + 8 + 8) + std::string(8, '\xff') + bytes.substr(36), "is beyond the document"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(quorvex::scene::ReadSceneDocumentBytes(c.bytes, back, why));
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
}
