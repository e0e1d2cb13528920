#include "import/GltfCompression.h"

#include <draco/compression/decode.h>
#include <meshoptimizer.h>
#include <tiny_gltf.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>

#include "scene/Limits.h"

namespace quorvex::importer {
using quorvex::scene::kMaxAccessorValues;
using quorvex::scene::kMaxInputFileBytes;

namespace {

const char* const kDraco = "KHR_draco_mesh_compression";
// The older name first written by the same encoder; the views are the same.
const char* const kMeshoptNames[] = {"EXT_meshopt_compression", "MESHOPT_compression"};
// Fallback buffers of these hold no data in the files we accept.
const char* const kFallbackNames[] = {"EXT_meshopt_compression", "MESHOPT_compression", "KHR_meshopt_compression"};

bool Contains(const std::vector<unsigned char>& bytes, size_t from, size_t to, const char* text) {
    const size_t n = std::strlen(text);
    return std::search(bytes.begin() + from, bytes.begin() + to, text, text + n) != bytes.begin() + to;
}

uint32_t Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

void PutLe32(std::vector<unsigned char>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// The JSON edits; true when anything changed.
bool EditDocument(nlohmann::json& doc) {
    bool changed = false;
    const auto buffers = doc.find("buffers");
    if (buffers != doc.end() && buffers->is_array()) {
        for (auto& buffer : *buffers) {
            const auto ext = buffer.find("extensions");
            if (!buffer.is_object() || ext == buffer.end() || !ext->is_object()) continue;
            for (const char* name : kFallbackNames) {
                const auto e = ext->find(name);
                if (e == ext->end() || !e->is_object()) continue;
                const auto fallback = e->find("fallback");
                if (fallback == e->end() || !fallback->is_boolean() || !fallback->get<bool>()) continue;
                // Never read: every view into it is decoded into a buffer of its own.
                buffer["byteLength"] = 4;
                buffer["uri"] = "data:application/octet-stream;base64,AAAAAA==";
                changed = true;
                break;
            }
        }
    }
    const auto meshes = doc.find("meshes");
    const auto accessors = doc.find("accessors");
    if (meshes == doc.end() || !meshes->is_array()) return changed;
    for (auto& mesh : *meshes) {
        const auto prims = mesh.is_object() ? mesh.find("primitives") : mesh.end();
        if (prims == mesh.end() || !prims->is_array()) continue;
        for (auto& prim : *prims) {
            if (!prim.is_object()) continue;
            const auto ext = prim.find("extensions");
            const auto indices = prim.find("indices");
            if (ext == prim.end() || !ext->is_object() || !ext->contains(kDraco) || indices == prim.end() ||
                !indices->is_number_unsigned() || accessors == doc.end() || !accessors->is_array()) {
                continue;
            }
            const size_t a = indices->get<size_t>();
            if (a < accessors->size() && (*accessors)[a].is_object() && !(*accessors)[a].contains("bufferView")) {
                prim.erase("indices");
                changed = true;
            }
        }
    }
    return changed;
}

// A whole, non-negative number property of an extension object: `fallback`
// when absent and not required.
bool Whole(const tinygltf::Value& object, const char* key, bool required, size_t fallback, size_t& out) {
    if (!object.Has(key)) {
        out = fallback;
        return !required;
    }
    const tinygltf::Value& v = object.Get(key);
    if (!v.IsNumber()) return false;
    const double d = v.GetNumberAsDouble();
    if (!(d >= 0.0) || d > 9007199254740992.0 || d != std::floor(d)) return false;
    out = static_cast<size_t>(d);
    return true;
}

std::string Text(const tinygltf::Value& object, const char* key, const std::string& fallback) {
    if (!object.Has(key) || !object.Get(key).IsString()) return fallback;
    return object.Get(key).Get<std::string>();
}

struct Decoder {
    tinygltf::Model& model;
    const std::string& file;
    std::string& error;

    bool Fail(const std::string& where, const std::string& what) {
        error = file + ": " + where + ": " + what;
        return false;
    }

    // Bytes [offset, offset + length) of buffer `index`, checked.
    const unsigned char* Span(size_t index, size_t offset, size_t length) const {
        if (index >= model.buffers.size()) return nullptr;
        const auto& data = model.buffers[index].data;
        if (offset > data.size() || length > data.size() - offset) return nullptr;
        return data.data() + offset;
    }

    int AddBuffer(std::vector<unsigned char>&& bytes) {
        tinygltf::Buffer buffer;
        buffer.data = std::move(bytes);
        model.buffers.push_back(std::move(buffer));
        return static_cast<int>(model.buffers.size()) - 1;
    }

    // A new accessor like `like` over `bytes` through a view of its own.
    int AddAccessor(std::vector<unsigned char>&& bytes, tinygltf::Accessor like, size_t count) {
        tinygltf::BufferView view;
        view.byteLength = bytes.size();
        view.buffer = AddBuffer(std::move(bytes));
        model.bufferViews.push_back(view);
        like.bufferView = static_cast<int>(model.bufferViews.size()) - 1;
        like.byteOffset = 0;
        like.count = count;
        like.sparse.isSparse = false;
        model.accessors.push_back(std::move(like));
        return static_cast<int>(model.accessors.size()) - 1;
    }

    bool Meshopt(size_t index, tinygltf::BufferView& view, const char* name) {
        const std::string where = "bufferViews[" + std::to_string(index) + "]";
        const std::string what = std::string(name) + " ";
        const tinygltf::Value& ext = view.extensions.at(name);
        size_t buffer = 0, offset = 0, length = 0, stride = 0, count = 0;
        if (!ext.IsObject() || !Whole(ext, "buffer", true, 0, buffer) || !Whole(ext, "byteOffset", false, 0, offset) ||
            !Whole(ext, "byteLength", true, 0, length) || !Whole(ext, "byteStride", true, 0, stride) ||
            !Whole(ext, "count", true, 0, count)) {
            return Fail(where, what + "lacks its buffer, byteLength, byteStride or count");
        }
        const std::string mode = Text(ext, "mode", ""), filter = Text(ext, "filter", "NONE");
        const unsigned char* source = Span(buffer, offset, length);
        if (!source) return Fail(where, what + "data beyond its buffer");
        const bool attributes = mode == "ATTRIBUTES";
        if (!attributes && mode != "TRIANGLES" && mode != "INDICES") {
            return Fail(where, what + "unknown mode \"" + mode + "\"");
        }
        if (attributes ? (stride == 0 || stride % 4 != 0 || stride > 256) : (stride != 2 && stride != 4)) {
            return Fail(where, what + "byteStride " + std::to_string(stride) + " does not fit mode " + mode);
        }
        if (count > kMaxInputFileBytes / stride) {
            return Fail(where,
                        what + "decodes to more than the limit of " + std::to_string(kMaxInputFileBytes) + " bytes");
        }
        std::vector<unsigned char> out(count * stride);
        int status = -1;
        if (attributes) {
            status = meshopt_decodeVertexBuffer(out.data(), count, stride, source, length);
        } else if (mode == "TRIANGLES") {
            if (count % 3 != 0) return Fail(where, what + "TRIANGLES count is not a multiple of 3");
            status = meshopt_decodeIndexBuffer(out.data(), count, stride, source, length);
        } else {
            status = meshopt_decodeIndexSequence(out.data(), count, stride, source, length);
        }
        if (status != 0) return Fail(where, what + "data cannot be decoded");
        // The filters' own stride rules: octahedral 4 or 8, quaternion 8,
        // exponential any multiple of 4; only attributes are filtered.
        if (filter == "OCTAHEDRAL" && attributes && (stride == 4 || stride == 8)) {
            meshopt_decodeFilterOct(out.data(), count, stride);
        } else if (filter == "QUATERNION" && attributes && stride == 8) {
            meshopt_decodeFilterQuat(out.data(), count, stride);
        } else if (filter == "EXPONENTIAL" && attributes) {
            meshopt_decodeFilterExp(out.data(), count, stride);
        } else if (filter != "NONE") {
            return Fail(where, what + "filter \"" + filter + "\" does not fit byteStride " + std::to_string(stride) +
                                   " and mode " + mode);
        }
        view.byteLength = out.size();
        view.byteOffset = 0;
        // Decoded attributes lie `stride` apart whatever the view says.
        if (attributes) view.byteStride = stride;
        view.buffer = AddBuffer(std::move(out));
        view.extensions.erase(name);
        return true;
    }

    template <typename T>
    static bool Put(const draco::PointAttribute& attribute, size_t points, int comps, unsigned char* out) {
        T value[16];
        for (size_t i = 0; i < points; ++i) {
            const auto mapped = attribute.mapped_index(draco::PointIndex(static_cast<uint32_t>(i)));
            if (mapped.value() >= attribute.size() || !attribute.ConvertValue<T>(mapped, comps, value)) return false;
            std::memcpy(out + i * comps * sizeof(T), value, comps * sizeof(T));
        }
        return true;
    }

    static bool Convert(const draco::PointAttribute& attribute, int componentType, size_t points, int comps,
                        unsigned char* out) {
        switch (componentType) {
            case TINYGLTF_COMPONENT_TYPE_BYTE: return Put<int8_t>(attribute, points, comps, out);
            case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return Put<uint8_t>(attribute, points, comps, out);
            case TINYGLTF_COMPONENT_TYPE_SHORT: return Put<int16_t>(attribute, points, comps, out);
            case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: return Put<uint16_t>(attribute, points, comps, out);
            case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: return Put<uint32_t>(attribute, points, comps, out);
            case TINYGLTF_COMPONENT_TYPE_FLOAT: return Put<float>(attribute, points, comps, out);
            default: return false;
        }
    }

    bool Draco(const std::string& where, tinygltf::Primitive& prim) {
        const tinygltf::Value& ext = prim.extensions.at(kDraco);
        const std::string at = where + ".extensions." + kDraco;
        size_t viewIndex = 0;
        if (!ext.IsObject() || !Whole(ext, "bufferView", true, 0, viewIndex) || !ext.Has("attributes") ||
            !ext.Get("attributes").IsObject()) {
            return Fail(at, "lacks its bufferView or attributes");
        }
        const unsigned char* source = nullptr;
        if (viewIndex < model.bufferViews.size()) {
            const tinygltf::BufferView& view = model.bufferViews[viewIndex];
            if (view.buffer >= 0) source = Span(static_cast<size_t>(view.buffer), view.byteOffset, view.byteLength);
        }
        if (!source) return Fail(at + ".bufferView", "no such buffer view, or one beyond its buffer");
        draco::DecoderBuffer stream;
        stream.Init(reinterpret_cast<const char*>(source), model.bufferViews[viewIndex].byteLength);
        draco::Decoder decoder;
        auto decoded = decoder.DecodeMeshFromBuffer(&stream);
        if (!decoded.ok())
            return Fail(where, std::string("Draco data cannot be decoded: ") + decoded.status().error_msg());
        const std::unique_ptr<draco::Mesh> mesh = std::move(decoded).value();
        const size_t points = mesh->num_points(), faces = mesh->num_faces();
        if (faces > kMaxAccessorValues / 3) {
            return Fail(where, "Draco data holds " + std::to_string(faces) + " triangles, more than the limit of " +
                                   std::to_string(kMaxAccessorValues / 3));
        }
        const tinygltf::Value& names = ext.Get("attributes");
        for (const std::string& name : names.Keys()) {
            const auto target = prim.attributes.find(name);
            if (target == prim.attributes.end()) continue;  // compressed, but not used by the primitive
            size_t id = 0;
            const draco::PointAttribute* attribute = nullptr;
            if (Whole(names, name.c_str(), true, 0, id) && id <= INT32_MAX) {
                attribute = mesh->GetAttributeByUniqueId(static_cast<uint32_t>(id));
            }
            if (!attribute) return Fail(at + ".attributes." + name, "no such attribute in the Draco data");
            if (target->second < 0 || static_cast<size_t>(target->second) >= model.accessors.size()) {
                return Fail(where + ".attributes." + name, "no such accessor");
            }
            const tinygltf::Accessor like = model.accessors[target->second];
            const int comps = tinygltf::GetNumComponentsInType(like.type);
            const int size = tinygltf::GetComponentSizeInBytes(like.componentType);
            if (comps <= 0 || comps > 16 || size <= 0) {
                return Fail(where + ".attributes." + name, "unsupported component or element type");
            }
            if (points > kMaxAccessorValues / static_cast<size_t>(comps)) {
                return Fail(where + ".attributes." + name,
                            std::to_string(points) + " elements of " + std::to_string(comps) +
                                " values are more than the limit of " + std::to_string(kMaxAccessorValues) + " values");
            }
            std::vector<unsigned char> bytes(points * comps * size);
            if (!Convert(*attribute, like.componentType, points, comps, bytes.data())) {
                return Fail(where + ".attributes." + name, "Draco values do not fit the accessor's type");
            }
            prim.attributes[name] = AddAccessor(std::move(bytes), like, points);
        }
        std::vector<unsigned char> indices(faces * 3 * sizeof(uint32_t));
        for (size_t f = 0; f < faces; ++f) {
            const draco::Mesh::Face& face = mesh->face(draco::FaceIndex(static_cast<uint32_t>(f)));
            for (int k = 0; k < 3; ++k) {
                const uint32_t v = face[k].value();
                std::memcpy(indices.data() + (f * 3 + k) * sizeof v, &v, sizeof v);
            }
        }
        tinygltf::Accessor like;
        like.componentType = TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
        like.type = TINYGLTF_TYPE_SCALAR;
        prim.indices = AddAccessor(std::move(indices), like, faces * 3);
        prim.mode = TINYGLTF_MODE_TRIANGLES;  // Draco holds triangle lists
        prim.extensions.erase(kDraco);
        return true;
    }
};

}  // namespace

void PrepareCompressedGltf(std::vector<unsigned char>& bytes, bool binary) {
    size_t from = 0, to = bytes.size();
    if (binary) {
        // Header (magic, version 2, length), then the JSON chunk (length, type).
        if (bytes.size() < 20 || std::memcmp(bytes.data(), "glTF", 4) != 0 || Le32(&bytes[4]) != 2 ||
            Le32(&bytes[8]) != bytes.size() || std::memcmp(&bytes[16], "JSON", 4) != 0 ||
            Le32(&bytes[12]) > bytes.size() - 20) {
            return;
        }
        from = 20;
        to = 20 + Le32(&bytes[12]);
    }
    if (!Contains(bytes, from, to, kDraco) && !Contains(bytes, from, to, "meshopt_compression") &&
        !Contains(bytes, from, to, "MESHOPT_compression")) {
        return;
    }
    try {
        nlohmann::json doc = nlohmann::json::parse(bytes.begin() + from, bytes.begin() + to, nullptr, false);
        if (!doc.is_object() || !EditDocument(doc)) return;
        std::string text = doc.dump();
        if (!binary) {
            bytes.assign(text.begin(), text.end());
            return;
        }
        while (text.size() % 4) text.push_back(' ');
        std::vector<unsigned char> out(bytes.begin(), bytes.begin() + 8);
        const size_t rest = bytes.size() - to;
        PutLe32(out, static_cast<uint32_t>(20 + text.size() + rest));
        PutLe32(out, static_cast<uint32_t>(text.size()));
        out.insert(out.end(), {'J', 'S', 'O', 'N'});
        out.insert(out.end(), text.begin(), text.end());
        out.insert(out.end(), bytes.begin() + to, bytes.end());
        if (out.size() > UINT32_MAX) return;
        bytes = std::move(out);
    } catch (const std::exception&) {
        // Left as it was: the parser reports what is wrong with it.
    }
}

bool DecodeCompressedGltf(tinygltf::Model& model, const std::string& file, std::string& error) {
    Decoder d{model, file, error};
    for (size_t v = 0; v < model.bufferViews.size(); ++v) {
        for (const char* name : kMeshoptNames) {
            if (model.bufferViews[v].extensions.count(name) && !d.Meshopt(v, model.bufferViews[v], name)) return false;
        }
    }
    for (size_t m = 0; m < model.meshes.size(); ++m) {
        for (size_t p = 0; p < model.meshes[m].primitives.size(); ++p) {
            tinygltf::Primitive& prim = model.meshes[m].primitives[p];
            if (!prim.extensions.count(kDraco)) continue;
            // Points carry no surface and are left out unread.
            if (prim.mode == TINYGLTF_MODE_POINTS) {
                prim.extensions.erase(kDraco);
                continue;
            }
            const std::string where = "meshes[" + std::to_string(m) + "].primitives[" + std::to_string(p) + "]";
            if (!d.Draco(where, prim)) return false;
        }
    }
    return true;
}

}  // namespace quorvex::importer
