// Scenes and export runs for the tests of the scene passes, frame names and
// skin painting: builds stand-in scenes in code, runs DoExport on them with
// prompts suppressed, and reads back the file it wrote.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "export/ExportState.h"
#include "mdl/MdlReader.h"
#include "export/ModelExporter.h"
#include "scene/SceneDocument.h"
#include "standin/HostProbe.h"
#include "standin/StandinHost.h"
#include "standin/Win32Standin.h"
#include "skin/TextureTable.h"

namespace passtest {

using namespace quorvex;

using quorvex::scene::MaterialData;
using quorvex::scene::MeshData;
using quorvex::scene::NodeData;
using quorvex::scene::ObjectData;
using quorvex::scene::SceneDocument;

inline Matrix3 Translation(float x, float y, float z) {
    Matrix3 m;
    m.row[3] = Point3{x, y, z};
    return m;
}

// A square of two triangles in the z = 0 plane with texture vertices at its
// corners: (0,0) (1,0) (1,1) (0,1).
inline MeshData Square(float size = 1.0f) {
    MeshData m;
    m.verts = {{0, 0, 0}, {size, 0, 0}, {size, size, 0}, {0, size, 0}};
    m.faces = {{0, 1, 2}, {0, 2, 3}};
    m.tverts = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    m.tvfaces = {{0, 1, 2}, {0, 2, 3}};
    return m;
}

inline MaterialData Textured(const std::string& file) {
    MaterialData mat;
    mat.kind = quorvex::scene::MaterialKind::Standard;
    mat.diffuse = quorvex::scene::MapData{quorvex::scene::MapKind::Bitmap, file};
    return mat;
}

inline NodeData MeshNode(const std::string& name, MeshData mesh, std::string picture = "skin.png",
                         quorvex::scene::ConvertMode convert = quorvex::scene::ConvertMode::Copy) {
    NodeData node;
    node.name = name;
    ObjectData object;
    object.kind = quorvex::scene::ObjectKind::Mesh;
    object.convert = convert;
    object.mesh = std::move(mesh);
    node.object = std::move(object);
    node.material = Textured(picture);
    return node;
}

inline NodeData ObjectNode(const std::string& name, quorvex::scene::ObjectKind kind) {
    NodeData node;
    node.name = name;
    ObjectData object;
    object.kind = kind;
    node.object = std::move(object);
    return node;
}

// A picture of one colour.
inline quorvex::scene::Picture Plain(uint16_t width, uint16_t height,
                                     BMM_Color_64 colour = {65535, 65535, 65535, 65535}) {
    quorvex::scene::Picture p;
    p.width = width;
    p.height = height;
    p.plain = true;
    p.fill = colour;
    return p;
}

// A picture whose pixel (x, y) has red x * 4096 and green y * 4096.
inline quorvex::scene::Picture Gradient(uint16_t width, uint16_t height) {
    quorvex::scene::Picture p;
    p.width = width;
    p.height = height;
    for (uint16_t y = 0; y < height; ++y) {
        for (uint16_t x = 0; x < width; ++x) {
            p.pixels.push_back(
                BMM_Color_64{static_cast<uint16_t>(x * 4096), static_cast<uint16_t>(y * 4096), 0, 65535});
        }
    }
    return p;
}

inline SceneDocument SceneWith(std::vector<NodeData> nodes) {
    SceneDocument doc;
    doc.images["skin.png"] = Plain(64, 32);
    doc.nodes = std::move(nodes);
    return doc;
}

// The parts of a written model file the tests look at. Positions are read
// back through the file's scale and origin, so they are exact only to within
// one packing step (the scale) per axis.
struct MdlContents {
    float scale[3] = {};
    float origin[3] = {};
    int32_t skinWidth = 0, skinHeight = 0, vertexCount = 0, triangleCount = 0, frameCount = 0, texCoordCount = 0;
    int32_t skinType = 0;
    std::vector<uint16_t> skin;
    std::vector<std::array<int16_t, 2>> texCoords;
    struct Triangle {
        uint16_t vertex[3];
        uint16_t texCoord[3];
    };
    std::vector<Triangle> triangles;
    std::vector<std::string> frameNames;
    std::vector<std::vector<ModelVec3>> positions;
};

// False when the file is missing, does not read back, or holds bytes past its end.
inline bool ReadMdl(const std::string& path, MdlContents& out) {
    const MdlReadResult read = ReadMdlFile(path.c_str());
    if (!read.ok() || read.file.fileSize != read.file.modelSize) return false;
    const MdlFile& file = read.file;
    const MdlHeader& h = file.header;
    for (int k = 0; k < 3; ++k) {
        out.scale[k] = h.scale[k];
        out.origin[k] = h.origin[k];
    }
    out.skinWidth = h.skinWidth;
    out.skinHeight = h.skinHeight;
    out.vertexCount = h.vertexCount;
    out.triangleCount = h.triangleCount;
    out.frameCount = h.frameCount;
    out.texCoordCount = h.texCoordCount;
    out.skinType = file.skinType;
    out.skin = file.skinPixels;
    for (const MdlTexCoord& t : file.texCoords) out.texCoords.push_back({t.u, t.v});
    for (const MdlTriangle& t : file.triangles) {
        MdlContents::Triangle copy{};
        std::copy(std::begin(t.vertex), std::end(t.vertex), copy.vertex);
        std::copy(std::begin(t.texCoord), std::end(t.texCoord), copy.texCoord);
        out.triangles.push_back(copy);
    }
    for (const MdlFrame& frame : file.frames) {
        out.frameNames.push_back(frame.name);
        std::vector<ModelVec3> positions;
        for (const MdlPackedVertex& v : frame.vertices) {
            const double packed[3] = {double(v.x), double(v.y), double(v.z)};
            float c[3];
            for (int k = 0; k < 3; ++k) c[k] = static_cast<float>(out.origin[k] + packed[k] * out.scale[k]);
            positions.push_back(ModelVec3{c[0], c[1], c[2]});
        }
        out.positions.push_back(std::move(positions));
    }
    return true;
}

// What one DoExport left behind.
struct ExportRun {
    int result = -1;
    std::string errorText;
    int errorFlagAfter = 0;
    std::vector<quorvex::standin::MessageBoxCall> messageBoxes;
    quorvex::standin::HostCounters counters;
    bool allReleasedOnce = false;
    std::vector<quorvex::standin::EvalCall> evalLog;
    bool written = false;
    MdlContents file;
};

struct ExportSettings {
    int32_t startFrame = 0;
    int32_t endFrame = 0;
    int32_t hiPrecision = 0;
    int32_t alphaChannel = 0;
    int pasteKeyLimit = -1;
};

inline std::string TempModelPath() {
    static int counter = 0;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "_" + info->name() : "run";
    for (char& c : name) {
        if (c == '/') c = '_';
    }
    return ::testing::TempDir() + "passes_" + name + "_" + std::to_string(counter++) + ".mdl";
}

// Runs one export with prompts suppressed on the stand-in host.
inline ExportRun RunExport(SceneDocument doc, ExportSettings settings = {}) {
    quorvex::standin::StandinHost host(std::move(doc));
    quorvex::standin::HostProbe probe;
    probe.pasteKeyLimit = settings.pasteKeyLimit;
    host.probe = &probe;
    quorvex::standin::HostGlobalsScope globals(&host);
    quorvex::standin::ScriptedWin32 win32;
    quorvex::standin::Win32Scope win32Scope(&win32);
    exportState.options =
        ExportOptionsRecord{settings.startFrame, settings.endFrame, settings.hiPrecision, settings.alphaChannel};

    const std::string path = TempModelPath();
    std::remove(path.c_str());
    ExportRun run;
    {
        ModelExporter exporter;
        run.result = exporter.DoExport(path.c_str(), nullptr, &host, TRUE, 0);
    }
    run.errorText = exportState.errorText;
    run.errorFlagAfter = exportState.errorFlag;
    run.messageBoxes = win32.messageBoxes;
    run.counters = host.Counters();
    run.allReleasedOnce = host.AllReleasedOnce();
    run.evalLog = probe.evalLog;
    run.written = ReadMdl(path, run.file);
    std::remove(path.c_str());
    return run;
}

}  // namespace passtest
