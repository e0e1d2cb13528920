// glTF (.gltf, .glb) into the common animated-scene description, through
// tinygltf. tinygltf parses the JSON and the buffers; everything it leaves
// raw (accessor bytes, sparse accessors, pictures) is read here with every
// offset checked against the buffer it points into.
#include <tiny_gltf.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <map>
#include <new>

#include "import/AnimatedScene.h"
#include "import/GltfCompression.h"
#include "import/Importer.h"
#include "import/NodeTree.h"
#include "scene/FolderCheck.h"
#include "scene/InputFile.h"
#include "scene/Limits.h"
#include "scene/Pictures.h"

namespace quorvex::importer {
using quorvex::scene::DecodePicture;
using quorvex::scene::kMaxAccessorValues;
using quorvex::scene::kMaxInputFileBytes;
using quorvex::scene::LiesInside;
using quorvex::scene::LoadError;
using quorvex::scene::LoadErrorKind;
using quorvex::scene::Picture;
using quorvex::scene::ReadInputFile;

namespace {

// Keeps the picture bytes as they are; pictures are decoded by the host's own
// decoder, only when a material uses them, so that a picture in a format we do
// not read fails only the model that needs it. Only the bytes of a data URI,
// which the parser decoded into memory of its own, are taken here: for a
// picture in a buffer view the parser hands over a pointer and a length it
// never checked against the buffer, so those bytes are taken later through
// the checked views; a picture file is read by the host by its name.
bool KeepPictureBytes(tinygltf::Image* image, const int, std::string*, std::string*, int, int,
                      const unsigned char* bytes, int size, void*) {
    if (image->bufferView < 0 && image->uri.empty() && bytes && size > 0) image->image.assign(bytes, bytes + size);
    image->as_is = true;
    return true;
}

// Where the parser may read files: with `secure`, only inside `folder`.
struct FileConfinement {
    bool secure = false;
    std::string folder;
    std::vector<std::string> refused;  // paths not read, as the parser asked for them
};

// Buffers and picture files the parser reads: regular files only, within the
// size limit, and inside the model's folder when it is confined to it.
bool ReadCappedFile(std::vector<unsigned char>* out, std::string* err, const std::string& path, void* confinement) {
    auto* confine = static_cast<FileConfinement*>(confinement);
    if (confine && confine->secure && !LiesInside(path, confine->folder)) {
        confine->refused.push_back(path);
        if (err) *err += "lies outside the model's folder";
        return false;
    }
    LoadError why;
    if (ReadInputFile(path, *out, why, kMaxInputFileBytes)) return true;
    if (err) *err += why.message;
    return false;
}

int ComponentSize(int componentType) {
    switch (componentType) {
        case TINYGLTF_COMPONENT_TYPE_BYTE:
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return 1;
        case TINYGLTF_COMPONENT_TYPE_SHORT:
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: return 2;
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT:
        case TINYGLTF_COMPONENT_TYPE_FLOAT: return 4;
        default: return 0;
    }
}

int ComponentCount(int type) {
    switch (type) {
        case TINYGLTF_TYPE_SCALAR: return 1;
        case TINYGLTF_TYPE_VEC2: return 2;
        case TINYGLTF_TYPE_VEC3: return 3;
        case TINYGLTF_TYPE_VEC4: return 4;
        case TINYGLTF_TYPE_MAT4: return 16;
        default: return 0;
    }
}

double ReadComponent(const unsigned char* p, int componentType, bool normalized) {
    switch (componentType) {
        case TINYGLTF_COMPONENT_TYPE_BYTE: {
            int8_t v;
            std::memcpy(&v, p, 1);
            return normalized ? std::max(v / 127.0, -1.0) : v;
        }
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return normalized ? *p / 255.0 : *p;
        case TINYGLTF_COMPONENT_TYPE_SHORT: {
            int16_t v;
            std::memcpy(&v, p, 2);
            return normalized ? std::max(v / 32767.0, -1.0) : v;
        }
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
            uint16_t v;
            std::memcpy(&v, p, 2);
            return normalized ? v / 65535.0 : v;
        }
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: {
            uint32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
        default: {
            float v;
            std::memcpy(&v, p, 4);
            return v;
        }
    }
}

class Reader {
public:
    Reader(const tinygltf::Model& model, std::string file) : model_(model), file_(std::move(file)) {}

    // The failure so far (Malformed unless a limit said otherwise).
    const LoadError& Error() const { return error_; }
    const tinygltf::Model& Model() const { return model_; }

    bool Fail(const std::string& where, const std::string& what, LoadErrorKind kind = LoadErrorKind::Malformed) {
        error_ = {kind, file_ + ": " + where + ": " + what};
        return false;
    }

    // Reads accessor `index` into `out`: count elements of `components`
    // values, read as doubles (normalised integers scaled to [0, 1] / [-1, 1]).
    bool Accessor(int index, int components, std::vector<double>& out, size_t& count) {
        const std::string where = "accessors[" + std::to_string(index) + "]";
        if (index < 0 || static_cast<size_t>(index) >= model_.accessors.size()) {
            return Fail(where, "no such accessor");
        }
        const tinygltf::Accessor& acc = model_.accessors[index];
        const int compSize = ComponentSize(acc.componentType);
        const int comps = ComponentCount(acc.type);
        if (compSize == 0 || comps == 0) return Fail(where, "unsupported component or element type");
        if (comps != components) {
            return Fail(where, "has " + std::to_string(comps) + " components where " + std::to_string(components) +
                                   " are needed");
        }
        count = acc.count;
        if (count > kMaxAccessorValues / static_cast<size_t>(comps)) {
            return Fail(where,
                        std::to_string(count) + " elements of " + std::to_string(comps) +
                            " values are more than the limit of " + std::to_string(kMaxAccessorValues) + " values",
                        LoadErrorKind::OverLimit);
        }
        const size_t elemSize = static_cast<size_t>(compSize) * comps;
        out.assign(0, 0.0);
        if (acc.bufferView >= 0) {
            const unsigned char* base = nullptr;
            size_t stride = 0;
            if (!View(acc.bufferView, acc.byteOffset, elemSize, count, where, base, stride)) return false;
            out.resize(count * comps);
            for (size_t i = 0; i < count; ++i) {
                for (int c = 0; c < comps; ++c) {
                    out[i * comps + c] = ReadComponent(base + i * stride + static_cast<size_t>(c) * compSize,
                                                       acc.componentType, acc.normalized);
                }
            }
        } else {
            out.assign(count * comps, 0.0);
        }
        if (acc.sparse.isSparse) {
            const size_t sparseCount = static_cast<size_t>(std::max(acc.sparse.count, 0));
            const int idxType = acc.sparse.indices.componentType;
            const int idxSize = ComponentSize(idxType);
            if (idxSize == 0 || idxType == TINYGLTF_COMPONENT_TYPE_FLOAT) {
                return Fail(where + ".sparse.indices", "unsupported component type");
            }
            const unsigned char* idxBase = nullptr;
            const unsigned char* valBase = nullptr;
            size_t idxStride = 0, valStride = 0;
            if (!View(acc.sparse.indices.bufferView, static_cast<size_t>(std::max(acc.sparse.indices.byteOffset, 0)),
                      static_cast<size_t>(idxSize), sparseCount, where + ".sparse.indices", idxBase, idxStride) ||
                !View(acc.sparse.values.bufferView, static_cast<size_t>(std::max(acc.sparse.values.byteOffset, 0)),
                      elemSize, sparseCount, where + ".sparse.values", valBase, valStride)) {
                return false;
            }
            // Sparse blocks are tightly packed whatever the view's stride says.
            idxStride = static_cast<size_t>(idxSize);
            valStride = elemSize;
            for (size_t i = 0; i < sparseCount; ++i) {
                const double target = ReadComponent(idxBase + i * idxStride, idxType, false);
                if (!(target >= 0.0) || target >= static_cast<double>(count)) {
                    return Fail(where + ".sparse.indices", "index beyond the accessor's count");
                }
                const size_t t = static_cast<size_t>(target);
                for (int c = 0; c < comps; ++c) {
                    out[t * comps + c] = ReadComponent(valBase + i * valStride + static_cast<size_t>(c) * compSize,
                                                       acc.componentType, acc.normalized);
                }
            }
        }
        return true;
    }

    // The whole of buffer view `index`, checked against its buffer.
    bool ViewBytes(int index, const std::string& where, const unsigned char*& base, size_t& length) {
        size_t stride = 0;
        if (!View(index, 0, 1, 0, where, base, stride)) return false;
        length = model_.bufferViews[index].byteLength;
        return true;
    }

private:
    // The bytes of `count` elements of `elemSize` bytes at `offset` into buffer
    // view `index`, all checked to lie within the view and its buffer.
    bool View(int index, size_t offset, size_t elemSize, size_t count, const std::string& where,
              const unsigned char*& base, size_t& stride) {
        if (index < 0 || static_cast<size_t>(index) >= model_.bufferViews.size()) {
            return Fail(where, "no such buffer view");
        }
        const tinygltf::BufferView& view = model_.bufferViews[index];
        if (view.buffer < 0 || static_cast<size_t>(view.buffer) >= model_.buffers.size()) {
            return Fail(where, "buffer view without a buffer");
        }
        const auto& data = model_.buffers[view.buffer].data;
        if (view.byteOffset > data.size() || view.byteLength > data.size() - view.byteOffset) {
            return Fail(where, "buffer view beyond its buffer");
        }
        stride = view.byteStride != 0 ? view.byteStride : elemSize;
        if (stride < elemSize) return Fail(where, "byte stride smaller than an element");
        if (count > 0) {
            if (offset > view.byteLength || elemSize > view.byteLength - offset ||
                (count - 1) > (view.byteLength - offset - elemSize) / stride) {
                return Fail(where, "elements beyond their buffer view");
            }
        }
        base = data.data() + view.byteOffset + offset;
        return true;
    }

    const tinygltf::Model& model_;
    std::string file_;
    LoadError error_;
};

std::string PercentDecoded(const std::string& uri) {
    std::string out;
    for (size_t i = 0; i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size() && std::isxdigit(static_cast<unsigned char>(uri[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(uri[i + 2]))) {
            out.push_back(static_cast<char>(std::stoi(uri.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(uri[i]);
        }
    }
    return out;
}

// The texture index a material's diffuse picture comes from, or -1.
int DiffuseTexture(const tinygltf::Material& mat) {
    if (mat.pbrMetallicRoughness.baseColorTexture.index >= 0) return mat.pbrMetallicRoughness.baseColorTexture.index;
    const auto ext = mat.extensions.find("KHR_materials_pbrSpecularGlossiness");
    if (ext != mat.extensions.end() && ext->second.Has("diffuseTexture")) {
        const tinygltf::Value& tex = ext->second.Get("diffuseTexture");
        if (tex.Has("index") && tex.Get("index").IsInt()) return tex.Get("index").Get<int>();
    }
    return -1;
}

Wrap WrapOf(int mode) {
    switch (mode) {
        case TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE: return Wrap::Clamp;
        case TINYGLTF_TEXTURE_WRAP_MIRRORED_REPEAT: return Wrap::Mirror;
        default: return Wrap::Repeat;
    }
}

// The material's diffuse colour: the base-colour factor, or the diffuse factor
// of the specular-glossiness extension.
std::array<double, 4> DiffuseColour(const tinygltf::Material& mat) {
    std::array<double, 4> c{1.0, 1.0, 1.0, 1.0};
    const auto ext = mat.extensions.find("KHR_materials_pbrSpecularGlossiness");
    if (ext != mat.extensions.end() && ext->second.Has("diffuseFactor")) {
        const tinygltf::Value& f = ext->second.Get("diffuseFactor");
        for (int i = 0; i < 4 && f.IsArray() && static_cast<size_t>(i) < f.ArrayLen(); ++i) {
            if (f.Get(i).IsNumber()) c[i] = f.Get(i).GetNumberAsDouble();
        }
        return c;
    }
    const auto& f = mat.pbrMetallicRoughness.baseColorFactor;
    for (size_t i = 0; i < 4 && i < f.size(); ++i) c[i] = f[i];
    return c;
}

// KHR_texture_transform on the diffuse texture, as a 2x3 matrix in glTF's
// texture space (v down): u' = a u + b v + c, v' = d u + e v + f.
std::array<double, 6> TextureTransform(const tinygltf::Material& mat) {
    std::array<double, 6> m{1, 0, 0, 0, 1, 0};
    const auto& info = mat.pbrMetallicRoughness.baseColorTexture;
    const auto ext = info.extensions.find("KHR_texture_transform");
    if (info.index < 0 || ext == info.extensions.end()) return m;
    auto number = [&](const char* key, int i, double fallback) {
        if (!ext->second.Has(key)) return fallback;
        const tinygltf::Value& v = ext->second.Get(key);
        if (i < 0) return v.IsNumber() ? v.GetNumberAsDouble() : fallback;
        return v.IsArray() && static_cast<size_t>(i) < v.ArrayLen() && v.Get(i).IsNumber()
                   ? v.Get(i).GetNumberAsDouble()
                   : fallback;
    };
    const double r = number("rotation", -1, 0.0), su = number("scale", 0, 1.0), sv = number("scale", 1, 1.0);
    m = {std::cos(r) * su,  std::sin(r) * sv, number("offset", 0, 0.0),
         -std::sin(r) * su, std::cos(r) * sv, number("offset", 1, 0.0)};
    return m;
}

// Compressed geometry this build does not decode: the extension's name.
std::string CompressionOf(const tinygltf::Model& model, const tinygltf::Primitive& prim) {
    if (prim.extensions.count("KHR_draco_mesh_compression")) return "KHR_draco_mesh_compression";
    for (const auto& attribute : prim.attributes) {
        if (attribute.second < 0 || static_cast<size_t>(attribute.second) >= model.accessors.size()) continue;
        const int view = model.accessors[attribute.second].bufferView;
        if (view < 0 || static_cast<size_t>(view) >= model.bufferViews.size()) continue;
        for (const char* ext : {"EXT_meshopt_compression", "KHR_meshopt_compression"}) {
            if (model.bufferViews[view].extensions.count(ext)) return ext;
        }
    }
    return "";
}

bool Triangles(int mode, const std::vector<uint32_t>& idx, std::vector<std::array<uint32_t, 3>>& out) {
    switch (mode) {
        case -1:
        case TINYGLTF_MODE_TRIANGLES:
            for (size_t i = 0; i + 2 < idx.size(); i += 3) out.push_back({idx[i], idx[i + 1], idx[i + 2]});
            return true;
        case TINYGLTF_MODE_TRIANGLE_STRIP:
            for (size_t i = 0; i + 2 < idx.size(); ++i) {
                if (i % 2 == 0) {
                    out.push_back({idx[i], idx[i + 1], idx[i + 2]});
                } else {
                    out.push_back({idx[i + 1], idx[i], idx[i + 2]});
                }
            }
            return true;
        case TINYGLTF_MODE_TRIANGLE_FAN:
            for (size_t i = 1; i + 1 < idx.size(); ++i) out.push_back({idx[i], idx[i + 1], idx[0]});
            return true;
        default: return false;  // points and lines carry no surface
    }
}

bool ReadPrimitive(Reader& rd, const tinygltf::Primitive& prim, const std::string& where, AnimMesh& mesh) {
    std::vector<double> data;
    size_t count = 0;
    const auto pos = prim.attributes.find("POSITION");
    if (!rd.Accessor(pos->second, 3, data, count)) return false;
    mesh.positions.resize(count);
    for (size_t i = 0; i < count; ++i) mesh.positions[i] = {data[i * 3], data[i * 3 + 1], data[i * 3 + 2]};
    const size_t n = count;

    std::vector<uint32_t> indices;
    if (prim.indices >= 0) {
        if (!rd.Accessor(prim.indices, 1, data, count)) return false;
        for (double v : data) {
            if (!(v >= 0.0) || v >= static_cast<double>(n)) {
                return rd.Fail(where + ".indices", "index beyond the vertex count");
            }
            indices.push_back(static_cast<uint32_t>(v));
        }
    } else {
        for (size_t i = 0; i < n; ++i) indices.push_back(static_cast<uint32_t>(i));
    }
    Triangles(prim.mode, indices, mesh.triangles);

    const auto uv = prim.attributes.find("TEXCOORD_0");
    if (uv != prim.attributes.end()) {
        if (!rd.Accessor(uv->second, 2, data, count)) return false;
        if (count != n) return rd.Fail(where + ".TEXCOORD_0", "count differs from POSITION");
        mesh.uvs.resize(n);
        // glTF's v runs down the picture; the host's runs up.
        for (size_t i = 0; i < n; ++i) mesh.uvs[i] = {data[i * 2], 1.0 - data[i * 2 + 1]};
    }

    const auto colour = prim.attributes.find("COLOR_0");
    if (colour != prim.attributes.end()) {
        const int acc = colour->second;
        const int comps = acc >= 0 && static_cast<size_t>(acc) < rd.Model().accessors.size() &&
                                  rd.Model().accessors[acc].type == TINYGLTF_TYPE_VEC3
                              ? 3
                              : 4;
        if (!rd.Accessor(acc, comps, data, count)) return false;
        if (count != n) return rd.Fail(where + ".COLOR_0", "count differs from POSITION");
        mesh.colours.resize(n);
        for (size_t i = 0; i < n; ++i) {
            mesh.colours[i] = {data[i * comps], data[i * comps + 1], data[i * comps + 2],
                               comps == 4 ? data[i * comps + 3] : 1.0};
        }
    }

    for (int set = 0;; ++set) {
        const auto joints = prim.attributes.find("JOINTS_" + std::to_string(set));
        const auto weights = prim.attributes.find("WEIGHTS_" + std::to_string(set));
        if (joints == prim.attributes.end() || weights == prim.attributes.end()) break;
        std::vector<double> j, w;
        size_t jc = 0, wc = 0;
        if (!rd.Accessor(joints->second, 4, j, jc) || !rd.Accessor(weights->second, 4, w, wc)) return false;
        if (jc != n || wc != n) return rd.Fail(where + ".JOINTS_" + std::to_string(set), "count differs from POSITION");
        mesh.influences.resize(n);
        for (size_t i = 0; i < n; ++i) {
            for (int c = 0; c < 4; ++c) {
                if (w[i * 4 + c] != 0.0) {
                    mesh.influences[i].push_back({static_cast<uint32_t>(j[i * 4 + c]), w[i * 4 + c]});
                }
            }
        }
    }

    for (size_t t = 0; t < prim.targets.size(); ++t) {
        std::vector<Vec3d> deltas(n);
        const auto tp = prim.targets[t].find("POSITION");
        if (tp != prim.targets[t].end()) {
            if (!rd.Accessor(tp->second, 3, data, count)) return false;
            if (count != n)
                return rd.Fail(where + ".targets[" + std::to_string(t) + "]", "count differs from POSITION");
            for (size_t i = 0; i < n; ++i) deltas[i] = {data[i * 3], data[i * 3 + 1], data[i * 3 + 2]};
        }
        mesh.morphTargets.push_back(std::move(deltas));
    }
    mesh.material = prim.material;
    return true;
}

Mat4d FromColumnMajor(const double* v) {
    Mat4d m;
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 4; ++r) m.m[r][c] = v[c * 4 + r];
    }
    return m;
}

// Materials and the pictures they use.
bool ConvertMaterials(Reader& rd, const tinygltf::Model& model, const std::string& path, AnimatedScene& out) {
    const std::string fileName = FileNameOf(path);
    std::map<int, std::string> undecodable;  // image index -> why
    for (size_t m = 0; m < model.materials.size(); ++m) {
        AnimMaterial mat;
        mat.name = model.materials[m].name.empty() ? "materials[" + std::to_string(m) + "]" : model.materials[m].name;
        mat.colour = DiffuseColour(model.materials[m]);
        const int tex = DiffuseTexture(model.materials[m]);
        if (tex >= 0 && static_cast<size_t>(tex) < model.textures.size()) {
            const int sampler = model.textures[tex].sampler;
            if (sampler >= 0 && static_cast<size_t>(sampler) < model.samplers.size()) {
                mat.wrapU = WrapOf(model.samplers[sampler].wrapS);
                mat.wrapV = WrapOf(model.samplers[sampler].wrapT);
            }
            const int src = model.textures[tex].source;
            if (src >= 0 && static_cast<size_t>(src) < model.images.size()) {
                const tinygltf::Image& image = model.images[src];
                if (!image.uri.empty() && !tinygltf::IsDataURI(image.uri)) {
                    mat.diffuseMap = PercentDecoded(image.uri);
                } else {
                    const std::string key = fileName + "#image" + std::to_string(src);
                    if (!out.pictures.count(key) && !undecodable.count(src)) {
                        const unsigned char* bytes = image.image.data();
                        size_t length = image.image.size();
                        if (image.bufferView >= 0 &&
                            !rd.ViewBytes(image.bufferView, "images[" + std::to_string(src) + "]", bytes, length)) {
                            return false;
                        }
                        Picture picture;
                        std::string why;
                        if (DecodePicture(bytes, length, picture, why)) {
                            out.pictures.emplace(key, std::move(picture));
                        } else {
                            undecodable[src] = "images[" + std::to_string(src) + "] cannot be read: " + why;
                        }
                    }
                    if (undecodable.count(src)) {
                        mat.mapProblem = undecodable[src];
                    } else {
                        mat.diffuseMap = key;
                    }
                }
            }
        }
        out.materials.push_back(std::move(mat));
    }
    return true;
}

// Meshes: one AnimMesh per primitive that has a surface; primitivesOf[m]
// lists the AnimMeshes of glTF mesh m.
bool ConvertMeshes(Reader& rd, const tinygltf::Model& model, AnimatedScene& out,
                   std::vector<std::vector<int>>& primitivesOf) {
    for (size_t m = 0; m < model.meshes.size(); ++m) {
        const tinygltf::Mesh& src = model.meshes[m];
        for (size_t p = 0; p < src.primitives.size(); ++p) {
            const tinygltf::Primitive& prim = src.primitives[p];
            const int mode = prim.mode;
            const std::string where = "meshes[" + std::to_string(m) + "].primitives[" + std::to_string(p) + "]";
            const std::string compression = CompressionOf(model, prim);
            if (!compression.empty()) {
                return rd.Fail(where, "compressed with " + compression + ", which this build does not decode");
            }
            if (mode == TINYGLTF_MODE_POINTS) ++out.skippedPoints;
            if (mode == TINYGLTF_MODE_LINE || mode == TINYGLTF_MODE_LINE_LOOP || mode == TINYGLTF_MODE_LINE_STRIP) {
                ++out.skippedLines;
            }
            if (!prim.attributes.count("POSITION") ||
                !(mode == -1 || mode == TINYGLTF_MODE_TRIANGLES || mode == TINYGLTF_MODE_TRIANGLE_STRIP ||
                  mode == TINYGLTF_MODE_TRIANGLE_FAN)) {
                continue;
            }
            AnimMesh mesh;
            mesh.name = src.name;

            if (!ReadPrimitive(rd, prim, where, mesh)) return false;
            if (mesh.material >= 0 && static_cast<size_t>(mesh.material) < model.materials.size()) {
                // glTF's colour is the base-colour factor times the vertex colour.
                const auto factor = out.materials[mesh.material].colour;
                for (auto& c : mesh.colours) {
                    for (int k = 0; k < 4; ++k) c[k] *= factor[k];
                }
                const auto t = TextureTransform(model.materials[mesh.material]);
                if (t != std::array<double, 6>{1, 0, 0, 0, 1, 0}) {
                    for (auto& uv : mesh.uvs) {
                        const double u = uv[0], v = 1.0 - uv[1];  // back to glTF's v for the transform
                        uv = {t[0] * u + t[1] * v + t[2], 1.0 - (t[3] * u + t[4] * v + t[5])};
                    }
                }
            }
            if (mesh.material >= static_cast<int>(out.materials.size())) mesh.material = -1;
            mesh.defaultWeights = src.weights;
            primitivesOf[m].push_back(static_cast<int>(out.meshes.size()));
            out.meshes.push_back(std::move(mesh));
        }
    }
    return true;
}

bool ConvertSkins(Reader& rd, const tinygltf::Model& model, AnimatedScene& out) {
    for (size_t s = 0; s < model.skins.size(); ++s) {
        const tinygltf::Skin& src = model.skins[s];
        AnimSkin skin;
        for (int j : src.joints) {
            if (j < 0 || static_cast<size_t>(j) >= model.nodes.size()) {
                return rd.Fail("skins[" + std::to_string(s) + "].joints", "no such node");
            }
            skin.joints.push_back(j);
        }
        if (src.inverseBindMatrices >= 0) {
            std::vector<double> data;
            size_t count = 0;
            if (!rd.Accessor(src.inverseBindMatrices, 16, data, count)) return false;
            if (count < skin.joints.size()) {
                return rd.Fail("skins[" + std::to_string(s) + "].inverseBindMatrices", "fewer matrices than joints");
            }
            for (size_t j = 0; j < skin.joints.size(); ++j) skin.inverseBind.push_back(FromColumnMajor(&data[j * 16]));
        } else {
            skin.inverseBind.assign(skin.joints.size(), Mat4d{});
        }
        out.skins.push_back(std::move(skin));
    }
    return true;
}

// Nodes, their tree and the scene's roots.
bool ConvertNodes(Reader& rd, const tinygltf::Model& model, const std::vector<std::vector<int>>& primitivesOf,
                  AnimatedScene& out) {
    out.nodes.resize(model.nodes.size());
    for (size_t n = 0; n < model.nodes.size(); ++n) {
        const tinygltf::Node& src = model.nodes[n];
        AnimNode& node = out.nodes[n];
        node.name = src.name.empty() ? "node" + std::to_string(n) : src.name;
        const std::string where = "nodes[" + std::to_string(n) + "]";
        if (src.matrix.size() == 16) {
            node.matrix = FromColumnMajor(src.matrix.data());
        } else {
            if (src.translation.size() == 3)
                node.translation = {src.translation[0], src.translation[1], src.translation[2]};
            if (src.rotation.size() == 4) {
                node.rotation = {src.rotation[0], src.rotation[1], src.rotation[2], src.rotation[3]};
            }
            if (src.scale.size() == 3) node.scale = {src.scale[0], src.scale[1], src.scale[2]};
        }
        const auto vis = src.extensions.find("KHR_node_visibility");
        if (vis != src.extensions.end() && vis->second.Has("visible") && vis->second.Get("visible").IsBool()) {
            node.hidden = !vis->second.Get("visible").Get<bool>();
        }
        if (src.mesh >= 0) {
            if (static_cast<size_t>(src.mesh) >= model.meshes.size()) return rd.Fail(where + ".mesh", "no such mesh");
            if (src.skin >= static_cast<int>(model.skins.size())) return rd.Fail(where + ".skin", "no such skin");
            for (int m : primitivesOf[src.mesh]) node.meshes.push_back({m, src.skin});
        }
        node.weights = src.weights;
        for (int c : src.children) {
            if (c < 0 || static_cast<size_t>(c) >= model.nodes.size() || static_cast<size_t>(c) == n) {
                return rd.Fail(where + ".children", "no such node");
            }
            if (out.nodes[c].parent >= 0) return rd.Fail(where + ".children", "node has two parents");
            out.nodes[c].parent = static_cast<int>(n);
            node.children.push_back(c);
        }
    }
    // An invisible node hides its whole subtree, whatever its descendants say;
    // cycles are refused even where no scene lists them.
    if (TreeFault fault; !SettleNodeTree(out.nodes, fault)) return rd.Fail(fault.where, fault.what);
    const int sceneIndex = model.defaultScene >= 0 ? model.defaultScene : (model.scenes.empty() ? -1 : 0);
    if (sceneIndex >= 0 && static_cast<size_t>(sceneIndex) < model.scenes.size()) {
        for (int r : model.scenes[sceneIndex].nodes) {
            if (r < 0 || static_cast<size_t>(r) >= model.nodes.size() || out.nodes[r].parent >= 0) {
                return rd.Fail("scenes[" + std::to_string(sceneIndex) + "].nodes", "not a root node");
            }
            out.roots.push_back(r);
        }
    } else {
        for (size_t n = 0; n < out.nodes.size(); ++n) {
            if (out.nodes[n].parent < 0) out.roots.push_back(static_cast<int>(n));
        }
    }
    return true;
}

// Animations: one clip each.
bool ConvertAnimations(Reader& rd, const tinygltf::Model& model, AnimatedScene& out) {
    for (size_t a = 0; a < model.animations.size(); ++a) {
        const tinygltf::Animation& src = model.animations[a];
        AnimClip clip;
        clip.name = src.name.empty() ? "anim" + std::to_string(a) : src.name;
        clip.madeUp = src.name.empty();
        for (size_t c = 0; c < src.channels.size(); ++c) {
            const tinygltf::AnimationChannel& ch = src.channels[c];
            const std::string where = "animations[" + std::to_string(a) + "].channels[" + std::to_string(c) + "]";
            if (ch.target_node < 0) continue;  // targets an extension, not a node
            if (static_cast<size_t>(ch.target_node) >= model.nodes.size()) return rd.Fail(where, "no such node");
            if (ch.sampler < 0 || static_cast<size_t>(ch.sampler) >= src.samplers.size()) {
                return rd.Fail(where, "no such sampler");
            }
            const tinygltf::AnimationSampler& sm = src.samplers[ch.sampler];
            AnimTrack track;
            track.node = ch.target_node;
            if (ch.target_path == "translation") {
                track.target = TrackTarget::Translation;
            } else if (ch.target_path == "rotation") {
                track.target = TrackTarget::Rotation;
            } else if (ch.target_path == "scale") {
                track.target = TrackTarget::Scale;
            } else if (ch.target_path == "weights") {
                track.target = TrackTarget::Weights;
            } else {
                continue;
            }
            track.interpolation = sm.interpolation == "STEP"          ? Interpolation::Step
                                  : sm.interpolation == "CUBICSPLINE" ? Interpolation::CubicSpline
                                                                      : Interpolation::Linear;
            size_t keys = 0, count = 0;
            if (!rd.Accessor(sm.input, 1, track.times, keys)) return false;
            if (keys == 0) return rd.Fail(where, "sampler without keys");
            for (size_t k = 1; k < keys; ++k) {
                if (!(track.times[k] >= track.times[k - 1])) return rd.Fail(where, "key times decrease");
            }
            const size_t groups = track.interpolation == Interpolation::CubicSpline ? 3 : 1;
            const tinygltf::Accessor* outAcc =
                (sm.output >= 0 && static_cast<size_t>(sm.output) < model.accessors.size())
                    ? &model.accessors[sm.output]
                    : nullptr;
            const int comps = outAcc ? ComponentCount(outAcc->type) : 0;
            if (!rd.Accessor(sm.output, comps, track.values, count)) return false;
            if (track.target == TrackTarget::Weights) {
                if (comps != 1 || count % (keys * groups) != 0) {
                    return rd.Fail(where, "weight count does not fit the keys");
                }
                track.width = count / (keys * groups);
            } else {
                track.width = track.target == TrackTarget::Rotation ? 4 : 3;
                if (static_cast<size_t>(comps) != track.width || count != keys * groups) {
                    return rd.Fail(where, "output does not fit the keys");
                }
            }
            clip.duration = std::max(clip.duration, track.times.back());
            clip.tracks.push_back(std::move(track));
        }
        out.clips.push_back(std::move(clip));
    }
    return true;
}

bool Convert(const tinygltf::Model& model, const std::string& path, AnimatedScene& out, LoadError& error) {
    Reader rd(model, path);
    std::vector<std::vector<int>> primitivesOf(model.meshes.size());
    if (!ConvertMaterials(rd, model, path, out) || !ConvertMeshes(rd, model, out, primitivesOf) ||
        !ConvertSkins(rd, model, out) || !ConvertNodes(rd, model, primitivesOf, out) ||
        !ConvertAnimations(rd, model, out)) {
        error = rd.Error();
        return false;
    }
    out.toZUp = YUpToZUp();  // glTF is Y-up
    out.baseDir = FolderOf(path);
    return true;
}

// glTF 1.0 files, which tinygltf does not read: the JSON's asset.version, or
// the binary container's version word. `unread` names what such a file holds
// that Assimp's reader of it leaves out (animations, skins), "" when nothing.
bool IsGltf1(const std::vector<unsigned char>& bytes, bool binary, std::string& unread) {
    unread.clear();
    const unsigned char* text = bytes.data();
    size_t textSize = bytes.size();
    bool v1 = false;
    if (binary) {
        // Magic, version, length, then the JSON's length and format word.
        if (bytes.size() < 8 || std::memcmp(bytes.data(), "glTF", 4) != 0 || bytes[4] != 1 || bytes[5] != 0 ||
            bytes[6] != 0 || bytes[7] != 0) {
            return false;
        }
        v1 = true;
        if (bytes.size() < 20) return true;  // Assimp's reader reports the damage
        const uint32_t size = bytes[12] | bytes[13] << 8 | bytes[14] << 16 | static_cast<uint32_t>(bytes[15]) << 24;
        if (size > bytes.size() - 20) return true;
        text = bytes.data() + 20;
        textSize = size;
    }
    try {
        const nlohmann::json doc = nlohmann::json::parse(text, text + textSize, nullptr, false);
        if (!doc.is_object()) return v1;
        // Looked up, never indexed: indexing a constant document at a missing
        // key reads freed memory.
        if (!v1) {
            const auto asset = doc.find("asset");
            if (asset == doc.end() || !asset->is_object()) return false;
            const auto found = asset->find("version");
            if (found == asset->end()) return false;
            const auto& version = *found;
            // 1.0 files may write the version as a number.
            v1 = version.is_number() ? version.get<double>() < 2.0
                                     : version.is_string() && version.get<std::string>().rfind("1.", 0) == 0;
            if (!v1) return false;
        }
        auto count = [&doc](const char* key) {
            const auto found = doc.find(key);
            return found != doc.end() && found->is_object() ? found->size() : size_t{0};
        };
        const size_t animations = count("animations"), skins = count("skins");
        auto plural = [](size_t n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); };
        if (animations > 0) unread = plural(animations, "animation");
        if (skins > 0) unread += (unread.empty() ? "" : " and ") + plural(skins, "skin");
    } catch (const std::bad_alloc&) {
        throw;  // no memory says nothing about the version
    } catch (const std::exception&) {
        return v1;
    }
    return true;
}

}  // namespace

bool LoadGltfScene(const std::string& path, AnimatedScene& out, LoadError& error, const LoadSettings& settings) {
    try {
        tinygltf::Model model;
        tinygltf::TinyGLTF loader;
        loader.SetImageLoader(KeepPictureBytes, nullptr);
        FileConfinement confine{settings.secure, FolderOf(path), {}};
        loader.SetFsCallbacks(
            {&tinygltf::FileExists, &tinygltf::ExpandFilePath, &ReadCappedFile, &tinygltf::WriteWholeFile, &confine});
        std::string err, warn;
        const bool binary = LowerExtension(path) == ".glb";
        std::vector<unsigned char> bytes;
        if (!ReadInputFile(path, bytes, error, kMaxInputFileBytes)) {
            error.message = path + ": " + error.message;
            return false;
        }
        if (bytes.empty()) {
            error = {LoadErrorKind::Malformed, path + ": empty file"};
            return false;
        }
        std::string unread;
        if (IsGltf1(bytes, binary, unread)) {
            if (!LoadAssimpScene(path, out, error, settings)) return false;
            if (!unread.empty()) {
                out.warnings.push_back(
                    "glTF 1.0: " + unread +
                    " left out: they are not read from 1.0 files; the meshes are exported as they stand");
            }
            return true;
        }
        PrepareCompressedGltf(bytes, binary);
        const std::string baseDir = FolderOf(path);
        const unsigned length = static_cast<unsigned>(bytes.size());
        const bool ok = binary ? loader.LoadBinaryFromMemory(&model, &err, &warn, bytes.data(), length, baseDir)
                               : loader.LoadASCIIFromString(
                                     &model, &err, &warn, reinterpret_cast<const char*>(bytes.data()), length, baseDir);
        if (!ok) {
            // A buffer the model may not read fails the load; say which, in our words.
            for (const std::string& refused : confine.refused) {
                if (err.find(refused) == std::string::npos) continue;
                error = {LoadErrorKind::Unreadable, path + ": buffer file \"" + refused +
                                                        "\" lies outside the model's folder: not read (--secure)"};
                return false;
            }
            while (!err.empty() && (err.back() == '\n' || err.back() == '\r')) err.pop_back();
            error = {LoadErrorKind::Malformed,
                     path + ": " + (err.empty() ? std::string("cannot be read as glTF") : err)};
            return false;
        }
        error.kind = LoadErrorKind::Malformed;
        if (!DecodeCompressedGltf(model, path, error.message)) return false;
        out = AnimatedScene{};
        return Convert(model, path, out, error);
    } catch (...) {
        return LoadFailure(path, error);
    }
}

}  // namespace quorvex::importer
