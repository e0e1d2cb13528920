// The Linux half of the Windows tests: reads a scene file as `quorvex export`
// does and writes its document as bytes for the Windows test host.
//
//   quorvex-scene-bytes SCENE.json OUT
//
// Exits 0 when OUT was written; 1 with the reader's message otherwise.
#include <cstdio>
#include <fstream>
#include <string>

#include "scene/SceneBytes.h"
#include "scene/SceneFile.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: quorvex-scene-bytes SCENE.json OUT\n");
        return 2;
    }
    quorvex::scene::SceneDocument document;
    quorvex::scene::LoadError error;
    if (!quorvex::scene::LoadSceneFile(argv[1], document, error)) {
        std::fprintf(stderr, "%s\n", error.message.c_str());
        return 1;
    }
    const std::string bytes = quorvex::scene::SceneDocumentBytes(document);
    std::ofstream out(argv[2], std::ios::binary);
    if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !out.flush()) {
        std::fprintf(stderr, "%s: cannot write\n", argv[2]);
        return 1;
    }
    return 0;
}
