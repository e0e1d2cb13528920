// Shared by the importer tests: a scratch folder, a glTF file builder with
// embedded buffers, and world positions computed the way the host computes them.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "import/Importer.h"
#include "scene/SceneDocument.h"

namespace importtest {

using quorvex::scene::NodeData;
using quorvex::scene::SceneDocument;

// A fresh folder for one test's files, removed when the test program ends.
inline std::string ScratchDir(const std::string& name) {
    struct Sweeper {
        std::vector<std::filesystem::path> dirs;
        ~Sweeper() {
            std::error_code ec;
            for (const auto& d : dirs) std::filesystem::remove_all(d, ec);
        }
    };
    static Sweeper sweeper;
    const auto dir =
        std::filesystem::temp_directory_path() / ("quorvex-import-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    sweeper.dirs.push_back(dir);
    return dir.string() + "/";
}

// Imports without looking at the warnings.
inline bool ImportScene(const std::string& path, const quorvex::importer::ImportOptions& options, SceneDocument& doc,
                        std::string& error) {
    quorvex::importer::ImportNotes notes;
    quorvex::scene::LoadError failure;
    if (quorvex::importer::ImportScene(path, options, doc, notes, failure)) return true;
    error = failure.message;
    return false;
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    f << bytes;
}

inline std::string Base64(const std::string& in) {
    static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8) | uint8_t(in[i + 2]);
        for (int k = 18; k >= 0; k -= 6) out += abc[(v >> k) & 63];
    }
    if (i + 1 == in.size()) {
        const uint32_t v = uint8_t(in[i]) << 16;
        out += abc[(v >> 18) & 63];
        out += abc[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == in.size()) {
        const uint32_t v = (uint8_t(in[i]) << 16) | (uint8_t(in[i + 1]) << 8);
        out += abc[(v >> 18) & 63];
        out += abc[(v >> 12) & 63];
        out += abc[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

// Builds a .gltf whose one buffer is embedded as a data URI.
struct GltfBuilder {
    nlohmann::json doc = {{"asset", {{"version", "2.0"}}}};
    std::string bin;

    int View(const std::string& bytes) {
        while (bin.size() % 4) bin.push_back('\0');
        nlohmann::json view = {{"buffer", 0}, {"byteOffset", bin.size()}, {"byteLength", bytes.size()}};
        bin += bytes;
        doc["bufferViews"].push_back(view);
        return static_cast<int>(doc["bufferViews"].size()) - 1;
    }

    // A float accessor of `type` ("SCALAR", "VEC2", ...) over `values`.
    int Floats(const std::vector<float>& values, const std::string& type) {
        const int comps = type == "SCALAR" ? 1 : type == "VEC2" ? 2 : type == "VEC3" ? 3 : type == "VEC4" ? 4 : 16;
        const int view = View(std::string(reinterpret_cast<const char*>(values.data()), values.size() * 4));
        nlohmann::json acc = {
            {"bufferView", view}, {"componentType", 5126}, {"count", values.size() / comps}, {"type", type}};
        if (type == "VEC3" && !values.empty()) {  // glTF wants bounds on positions
            std::vector<float> lo(values.begin(), values.begin() + 3), hi = lo;
            for (size_t i = 0; i < values.size(); ++i) {
                lo[i % 3] = std::min(lo[i % 3], values[i]);
                hi[i % 3] = std::max(hi[i % 3], values[i]);
            }
            acc["min"] = lo;
            acc["max"] = hi;
        }
        doc["accessors"].push_back(acc);
        return static_cast<int>(doc["accessors"].size()) - 1;
    }

    int Indices(const std::vector<uint16_t>& values, const std::string& type = "SCALAR") {
        const int view = View(std::string(reinterpret_cast<const char*>(values.data()), values.size() * 2));
        const int comps = type == "SCALAR" ? 1 : 4;
        doc["accessors"].push_back(
            {{"bufferView", view}, {"componentType", 5123}, {"count", values.size() / comps}, {"type", type}});
        return static_cast<int>(doc["accessors"].size()) - 1;
    }

    int Add(const char* array, nlohmann::json item) {
        doc[array].push_back(std::move(item));
        return static_cast<int>(doc[array].size()) - 1;
    }

    std::string Write(const std::string& path) {
        nlohmann::json out = doc;
        out["buffers"] = {{{"byteLength", bin.size()}, {"uri", "data:application/octet-stream;base64," + Base64(bin)}}};
        WriteFile(path, out.dump());
        return path;
    }
};

// The chain of host nodes from a root down to the first node named `name`
// (depth first, in child order); empty when there is none.
inline bool FindChain(const std::vector<NodeData>& nodes, const std::string& name,
                      std::vector<const NodeData*>& chain) {
    for (const NodeData& n : nodes) {
        chain.push_back(&n);
        if (n.name == name || FindChain(n.children, name, chain)) return true;
        chain.pop_back();
    }
    return false;
}

inline const NodeData* Find(const SceneDocument& doc, const std::string& name) {
    std::vector<const NodeData*> chain;
    return FindChain(doc.nodes, name, chain) ? chain.back() : nullptr;
}

// The host's pinned single-precision arithmetic.
inline Matrix3 Mul(const Matrix3& a, const Matrix3& b) {
    Matrix3 c;
    for (int r = 0; r < 4; ++r) {
        const float* ar = &a.row[r].x;
        float* cr = &c.row[r].x;
        for (int k = 0; k < 3; ++k) {
            float v = ar[0] * (&b.row[0].x)[k] + ar[1] * (&b.row[1].x)[k];
            v = v + ar[2] * (&b.row[2].x)[k];
            if (r == 3) v = v + (&b.row[3].x)[k];
            cr[k] = v;
        }
    }
    return c;
}

inline Point3 Apply(const Point3& p, const Matrix3& m) {
    return {((p.x * m.row[0].x + p.y * m.row[1].x) + p.z * m.row[2].x) + m.row[3].x,
            ((p.x * m.row[0].y + p.y * m.row[1].y) + p.z * m.row[2].y) + m.row[3].y,
            ((p.x * m.row[0].z + p.y * m.row[1].z) + p.z * m.row[2].z) + m.row[3].z};
}

// World positions of the mesh carried by the node named `name` at time t, as
// the exporter samples them: vertex x transform(node) x world(parent).
inline std::vector<Point3> WorldVerts(const SceneDocument& doc, const std::string& name, TimeValue t) {
    std::vector<const NodeData*> chain;
    if (!FindChain(doc.nodes, name, chain)) {
        ADD_FAILURE() << "no node " << name;
        return {};
    }
    Matrix3 world = chain.front()->transform.At(t);
    for (size_t i = 1; i < chain.size(); ++i) world = Mul(chain[i]->transform.At(t), world);
    std::vector<Point3> out;
    if (!chain.back()->object) return out;
    for (const Point3& p : chain.back()->object->mesh.At(t).verts) out.push_back(Apply(p, world));
    return out;
}

inline void ExpectNear(const Point3& p, float x, float y, float z, float tol = 1e-5f) {
    EXPECT_NEAR(p.x, x, tol);
    EXPECT_NEAR(p.y, y, tol);
    EXPECT_NEAR(p.z, z, tol);
}

}  // namespace importtest
