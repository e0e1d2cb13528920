#include "gltfout/GltfExport.h"

#include <tiny_gltf.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "view/PictureOutput.h"
#include "view/Renderer.h"

namespace quorvex::gltfout {
using quorvex::view::DecodeSkinPixel;
using quorvex::view::EncodePng;
using quorvex::view::RenderColor;
using quorvex::view::RenderImage;


namespace {

// glTF's numbers for what this writer uses.
constexpr int kFloat = TINYGLTF_COMPONENT_TYPE_FLOAT;
constexpr int kNearest = TINYGLTF_TEXTURE_FILTER_NEAREST;
constexpr int kClampToEdge = TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE;

std::atomic<const char*> pending[kGltfPendingMax] = {};
static_assert(std::atomic<const char*>::is_always_lock_free);

bool EndsWithGlb(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".glb";
}

// A file name as a relative URI: everything but unreserved characters is
// percent-encoded.
std::string UriOf(const std::string& name) {
    static const char hex[] = "0123456789ABCDEF";
    std::string uri;
    for (unsigned char c : name) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            uri += char(c);
        } else {
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 15];
        }
    }
    return uri;
}

// One output file: written under a temporary name beside its target, which
// is published for the signal handler while it may exist.
struct OutputFile {
    std::string target;
    std::string temporary;
    FILE* file = nullptr;
    int slot = -1;
};

// Every output of one export. Whatever is not committed is removed.
class Outputs {
public:
    // Room for every file up front: a published name must never move.
    Outputs() { files_.reserve(kGltfPendingMax); }
    ~Outputs() {
        for (OutputFile& out : files_) Discard(out);
    }
    // Opens a new temporary file for `target`; false with errno set.
    bool Open(const std::string& target) {
        static std::atomic<unsigned> counter{0};
        const int slot = int(files_.size());
        if (slot >= kGltfPendingMax) {
            errno = EMFILE;
            return false;
        }
        files_.push_back(OutputFile{target, {}, nullptr, slot});
        OutputFile& out = files_.back();
        for (int attempt = 0; attempt < 100; ++attempt) {
            out.temporary = target + ".tmp" + std::to_string(long(getpid())) + "-g" + std::to_string(counter++);
            // Published before the file exists, so no moment has a file nobody would remove.
            pending[slot] = out.temporary.c_str();
            errno = 0;
            out.file = std::fopen(out.temporary.c_str(), "wbx");
            if (out.file) return true;
            if (errno != EEXIST) break;
        }
        const int reason = errno;
        pending[slot] = nullptr;
        errno = reason;
        return false;
    }
    OutputFile& operator[](size_t i) { return files_[i]; }
    // Closes every file, then renames them into place, the last one (the
    // file that names the others) last. False with errno and the path set.
    bool Commit(std::string& failedPath) {
        for (OutputFile& out : files_) {
            FILE* file = out.file;
            out.file = nullptr;
            errno = 0;
            if (std::fclose(file) != 0) {
                failedPath = out.target;
                if (errno == 0) errno = EIO;
                return false;
            }
        }
        for (OutputFile& out : files_) {
            std::error_code ec;
            std::filesystem::rename(out.temporary, out.target, ec);
            if (ec) {
                failedPath = out.target;
                errno = ec.value();
                return false;
            }
            pending[out.slot] = nullptr;
            out.temporary.clear();
        }
        return true;
    }

private:
    static void Discard(OutputFile& out) {
        if (out.file) std::fclose(out.file);
        out.file = nullptr;
        if (!out.temporary.empty()) std::remove(out.temporary.c_str());
        if (out.slot >= 0) pending[out.slot] = nullptr;
        out.temporary.clear();
    }
    std::vector<OutputFile> files_;
};

// Writes to one output; the first failure is kept with its errno.
class Sink {
public:
    explicit Sink(OutputFile& out) : out_(out) {}
    void Write(const void* data, size_t size) {
        if (error_ != 0 || size == 0) return;
        errno = 0;
        if (std::fwrite(data, 1, size, out_.file) != size) error_ = errno != 0 ? errno : EIO;
    }
    void Pad(size_t size, char fill) {
        const char bytes[4] = {fill, fill, fill, fill};
        Write(bytes, (4 - size % 4) % 4);
    }
    void U32(uint32_t v) {
        const unsigned char b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        Write(b, 4);
    }
    void Floats(const std::vector<float>& values) { Write(values.data(), values.size() * sizeof(float)); }
    int Error() const { return error_; }
    const std::string& Target() const { return out_.target; }

private:
    OutputFile& out_;
    int error_ = 0;
};

uint64_t Padded(uint64_t size) { return (size + 3) / 4 * 4; }

// Where each part of the binary buffer lies, in bytes from its start.
struct Layout {
    uint64_t indexSize = 2;
    uint64_t indices = 0, vec3 = 0, uv = 0, times = 0, weights = 0, image = 0, end = 0;
    uint64_t indexBytes = 0, vec3Bytes = 0, uvBytes = 0, timeBytes = 0, weightBytes = 0, imageBytes = 0;
};

// The sizes in double first: a hostile file's frame count squared must not
// wrap before it is compared with the limit.
bool MakeLayout(uint64_t splitVertices, uint64_t triangles, uint64_t frames, bool textured, uint64_t pngBytes,
                Layout& l) {
    const double s = double(splitVertices), f = double(frames);
    const double estimate = triangles * 3.0 * 4 + (2 + 2 * f) * s * 12 + s * 8 + f * 4 + f * f * 4 + pngBytes + 16;
    if (!(estimate <= double(kGltfMaxBufferBytes))) return false;
    l.indexSize = splitVertices > 65535 ? 4 : 2;  // 65535 is the restart value, never an index
    l.indexBytes = triangles * 3 * l.indexSize;
    l.vec3Bytes = (2 + 2 * frames) * splitVertices * 12;
    l.uvBytes = textured ? splitVertices * 8 : 0;
    l.timeBytes = frames * 4;
    l.weightBytes = frames * frames * 4;
    l.imageBytes = pngBytes;
    l.indices = 0;
    l.vec3 = Padded(l.indexBytes);
    l.uv = l.vec3 + l.vec3Bytes;
    l.times = l.uv + l.uvBytes;
    l.weights = l.times + l.timeBytes;
    l.image = l.weights + l.weightBytes;
    l.end = l.image + Padded(l.imageBytes);
    return l.end <= kGltfMaxBufferBytes;
}

// One frame's decoded positions and outward normals in glTF's axes, per
// model vertex.
void DecodeFrame(const MdlFile& file, const MdlFrame& frame, std::vector<GltfVec3>& positions,
                 std::vector<GltfVec3>& normals) {
    const size_t count = frame.vertices.size();
    positions.resize(count);
    normals.resize(count);
    for (size_t v = 0; v < count; ++v) {
        const MdlVec3 p = DecodeMdlPosition(file.header, frame.vertices[v]);
        positions[v] = ToGltfAxes(p.x, p.y, p.z);
        const MdlVec3 n = DecodeMdlNormal(frame.vertices[v].normalIndex);
        normals[v] = ToGltfAxes(-n.x, -n.y, -n.z);
    }
}

void Put(std::vector<float>& out, size_t i, const GltfVec3& v) {
    out[i * 3] = v.x;
    out[i * 3 + 1] = v.y;
    out[i * 3 + 2] = v.z;
}

GltfVec3 Minus(const GltfVec3& a, const GltfVec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

// Per split vertex, `values` of its model vertex, less `base` when given.
void Spread(const GltfSplitMesh& mesh, const std::vector<GltfVec3>& values, const std::vector<GltfVec3>* base,
            std::vector<float>& out) {
    out.resize(mesh.vertices.size() * 3);
    for (size_t i = 0; i < mesh.vertices.size(); ++i) {
        const uint32_t v = mesh.vertices[i].vertex;
        Put(out, i, base ? Minus(values[v], (*base)[v]) : values[v]);
    }
}

struct Bounds {
    std::vector<double> min = std::vector<double>(3, std::numeric_limits<double>::infinity());
    std::vector<double> max = std::vector<double>(3, -std::numeric_limits<double>::infinity());
};

Bounds BoundsOf(const std::vector<float>& xyz) {
    Bounds b;
    for (size_t i = 0; i < xyz.size(); ++i) {
        b.min[i % 3] = std::min(b.min[i % 3], double(xyz[i]));
        b.max[i % 3] = std::max(b.max[i % 3], double(xyz[i]));
    }
    return b;
}

int AddView(tinygltf::Model& m, uint64_t offset, uint64_t length, int stride, int target) {
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = size_t(offset);
    view.byteLength = size_t(length);
    view.byteStride = size_t(stride);
    view.target = target;
    m.bufferViews.push_back(view);
    return int(m.bufferViews.size()) - 1;
}

int AddAccessor(tinygltf::Model& m, int view, uint64_t offset, int componentType, int type, uint64_t count,
                const Bounds* bounds = nullptr) {
    tinygltf::Accessor a;
    a.bufferView = view;
    a.byteOffset = size_t(offset);
    a.componentType = componentType;
    a.type = type;
    a.count = size_t(count);
    if (bounds) {
        a.minValues = bounds->min;
        a.maxValues = bounds->max;
    }
    m.accessors.push_back(a);
    return int(m.accessors.size()) - 1;
}

// The skin's first picture as RGB (the ARGB4444 alpha nibble is written as
// 0 by the exporter, so skins are opaque).
RenderImage SkinPicture(const MdlFile& file) {
    RenderImage image;
    image.width = file.header.skinWidth;
    image.height = file.header.skinHeight;
    const size_t pixels = size_t(image.width) * size_t(image.height);
    image.rgb.resize(pixels * 3);
    for (size_t i = 0; i < pixels; ++i) {
        const RenderColor c = DecodeSkinPixel(file.skinPixels[i], file.skinType);
        image.rgb[i * 3] = c.r;
        image.rgb[i * 3 + 1] = c.g;
        image.rgb[i * 3 + 2] = c.b;
    }
    return image;
}

GltfExportResult Fail(GltfExportFailure failure, std::string error) {
    GltfExportResult result;
    result.failure = failure;
    result.error = std::move(error);
    return result;
}

GltfExportResult WriteFailure(const std::string& path, int error) {
    return Fail(GltfExportFailure::Write, "Cannot write " + path + ": " + std::strerror(error != 0 ? error : EIO));
}

// What the document and the buffer are made from.
struct Plan {
    const MdlFile* file = nullptr;
    GltfSplitMesh mesh;
    std::vector<MdlSequence> sequences;
    bool textured = false;
    bool glb = false;
    std::vector<unsigned char> png;  // the skin
    Layout layout;
    std::vector<GltfVec3> base, baseNormals;  // frame 0, per model vertex
};

// The one material, with the skin as its texture when the model has one.
void AddSkinMaterial(tinygltf::Model& m, const Plan& plan, const std::string& stem) {
    const Layout& layout = plan.layout;
    tinygltf::Material material;
    material.name = "skin";
    material.pbrMetallicRoughness.metallicFactor = 0.0;
    material.pbrMetallicRoughness.roughnessFactor = 1.0;
    if (plan.textured) {
        tinygltf::Sampler sampler;
        sampler.magFilter = kNearest;
        sampler.minFilter = kNearest;
        sampler.wrapS = kClampToEdge;  // as the model's own renderer clamps
        sampler.wrapT = kClampToEdge;
        m.samplers.push_back(sampler);
        tinygltf::Image image;
        image.name = "skin";
        if (plan.glb) {
            image.bufferView = AddView(m, layout.image, layout.imageBytes, 0, 0);
            image.mimeType = "image/png";
        } else {
            image.uri = UriOf(stem + ".png");
        }
        m.images.push_back(image);
        tinygltf::Texture texture;
        texture.sampler = 0;
        texture.source = 0;
        m.textures.push_back(texture);
        material.pbrMetallicRoughness.baseColorTexture.index = 0;
    }
    m.materials.push_back(material);
}

// One animation per sequence of frames: a step to each frame's target in turn.
void AddAnimations(tinygltf::Model& m, const Plan& plan, int timeView, int weightView, int fps,
                   GltfExportResult& result) {
    const uint64_t F = plan.file->frames.size();
    for (const MdlSequence& seq : plan.sequences) {
        const uint64_t keys = uint64_t(seq.frameCount), first = uint64_t(seq.firstFrame);
        tinygltf::AnimationSampler sampler;
        Bounds times;
        times.min = {0.0};
        times.max = {double(GltfKeyTime(int64_t(keys) - 1, fps))};
        sampler.input = AddAccessor(m, timeView, first * 4, kFloat, TINYGLTF_TYPE_SCALAR, keys, &times);
        // Rows first..first+keys-1 of the identity: one target at full weight per key.
        sampler.output = AddAccessor(m, weightView, first * F * 4, kFloat, TINYGLTF_TYPE_SCALAR, keys * F);
        sampler.interpolation = "STEP";
        tinygltf::AnimationChannel channel;
        channel.sampler = 0;
        channel.target_node = 0;
        channel.target_path = "weights";
        tinygltf::Animation animation;
        animation.name = GltfUtf8(seq.name);
        animation.samplers.push_back(sampler);
        animation.channels.push_back(channel);
        result.animations.push_back({animation.name, seq.frameCount});
        m.animations.push_back(std::move(animation));
    }
}

// The JSON document: tinygltf writes everything but the buffer, which is
// streamed apart and added here. Fills result.animations. Empty when
// tinygltf fails.
std::string MakeDocument(const Plan& plan, const std::string& stem, const GltfExportOptions& options,
                         GltfExportResult& result) {
    const MdlFile& file = *plan.file;
    const GltfSplitMesh& mesh = plan.mesh;
    const Layout& layout = plan.layout;
    const bool textured = plan.textured, glb = plan.glb;
    const uint64_t S = mesh.vertices.size(), F = file.frames.size();

    // The bounds every POSITION accessor must declare.
    std::vector<GltfVec3> positions, normals;
    std::vector<float> values;
    Spread(mesh, plan.base, nullptr, values);
    const Bounds baseBounds = BoundsOf(values);
    std::vector<Bounds> targetBounds;
    targetBounds.reserve(F);
    for (const MdlFrame& frame : file.frames) {
        DecodeFrame(file, frame, positions, normals);
        Spread(mesh, positions, &plan.base, values);
        targetBounds.push_back(BoundsOf(values));
    }

    tinygltf::Model m;
    m.asset.version = "2.0";
    m.asset.generator = options.generator;
    const int indexView = AddView(m, layout.indices, layout.indexBytes, 0, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
    const int vec3View = AddView(m, layout.vec3, layout.vec3Bytes, 12, TINYGLTF_TARGET_ARRAY_BUFFER);
    const int uvView = textured ? AddView(m, layout.uv, layout.uvBytes, 0, TINYGLTF_TARGET_ARRAY_BUFFER) : -1;
    const int timeView = AddView(m, layout.times, layout.timeBytes, 0, 0);
    const int weightView = AddView(m, layout.weights, layout.weightBytes, 0, 0);

    tinygltf::Primitive prim;
    prim.mode = TINYGLTF_MODE_TRIANGLES;
    prim.indices = AddAccessor(
        m, indexView, 0, layout.indexSize == 2 ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT : TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT,
        TINYGLTF_TYPE_SCALAR, mesh.indices.size());
    prim.attributes["POSITION"] = AddAccessor(m, vec3View, 0, kFloat, TINYGLTF_TYPE_VEC3, S, &baseBounds);
    prim.attributes["NORMAL"] = AddAccessor(m, vec3View, S * 12, kFloat, TINYGLTF_TYPE_VEC3, S);
    if (textured) prim.attributes["TEXCOORD_0"] = AddAccessor(m, uvView, 0, kFloat, TINYGLTF_TYPE_VEC2, S);
    std::vector<tinygltf::Value> targetNames;
    uint64_t escaped = 0;
    for (uint64_t k = 0; k < F; ++k) {
        const uint64_t at = (2 + 2 * k) * S * 12;
        std::map<std::string, int> target;
        target["POSITION"] = AddAccessor(m, vec3View, at, kFloat, TINYGLTF_TYPE_VEC3, S, &targetBounds[k]);
        target["NORMAL"] = AddAccessor(m, vec3View, at + S * 12, kFloat, TINYGLTF_TYPE_VEC3, S);
        prim.targets.push_back(std::move(target));
        targetNames.emplace_back(GltfUtf8(file.frames[k].name));
        if (targetNames.back().Get<std::string>() != file.frames[k].name) ++escaped;
    }
    if (escaped > 0)
        result.warnings.push_back(std::to_string(escaped) + " frame name" + (escaped == 1 ? " is" : "s are") +
                                  " not UTF-8: the bytes that are not are written as \\xNN");
    AddSkinMaterial(m, plan, stem);
    prim.material = 0;

    tinygltf::Mesh gltfMesh;
    gltfMesh.name = GltfUtf8(stem);
    gltfMesh.primitives.push_back(std::move(prim));
    gltfMesh.extras = tinygltf::Value(tinygltf::Value::Object{{"targetNames", tinygltf::Value(targetNames)}});
    m.meshes.push_back(std::move(gltfMesh));
    tinygltf::Node node;
    node.name = GltfUtf8(stem);
    node.mesh = 0;
    m.nodes.push_back(node);
    tinygltf::Scene scene;
    scene.nodes.push_back(0);
    m.scenes.push_back(scene);
    m.defaultScene = 0;

    AddAnimations(m, plan, timeView, weightView, options.fps, result);

    tinygltf::TinyGLTF writer;
    writer.SetImageWriter(nullptr, nullptr);  // the picture is written apart, not by tinygltf
    std::ostringstream text;
    if (!writer.WriteGltfSceneToStream(&m, text, false, false)) return "";
    m = tinygltf::Model{};
    nlohmann::ordered_json doc = nlohmann::ordered_json::parse(text.str());
    nlohmann::ordered_json buffer = {{"byteLength", layout.end}};
    if (!glb) buffer["uri"] = UriOf(stem + ".bin");
    doc["buffers"] = nlohmann::ordered_json::array({buffer});
    return doc.dump(glb ? -1 : 2);
}

// The buffer, part after part, in the order of the layout, one frame at a
// time. Returns the sink's error (0 when every byte went out).
int WriteBuffer(Sink& bin, const Plan& plan, int fps) {
    const MdlFile& file = *plan.file;
    const GltfSplitMesh& mesh = plan.mesh;
    const uint64_t S = mesh.vertices.size(), F = file.frames.size();
    if (plan.layout.indexSize == 2) {
        std::vector<uint16_t> indices(mesh.indices.begin(), mesh.indices.end());
        bin.Write(indices.data(), indices.size() * 2);
    } else {
        bin.Write(mesh.indices.data(), mesh.indices.size() * 4);
    }
    bin.Pad(plan.layout.indexBytes, 0);
    std::vector<GltfVec3> positions, normals;
    std::vector<float> values;
    Spread(mesh, plan.base, nullptr, values);
    bin.Floats(values);
    Spread(mesh, plan.baseNormals, nullptr, values);
    bin.Floats(values);
    for (const MdlFrame& frame : file.frames) {
        DecodeFrame(file, frame, positions, normals);
        Spread(mesh, positions, &plan.base, values);
        bin.Floats(values);
        Spread(mesh, normals, &plan.baseNormals, values);
        bin.Floats(values);
        if (bin.Error() != 0) return bin.Error();
    }
    if (plan.textured) {
        values.assign(S * 2, 0.0f);
        for (size_t i = 0; i < S; ++i) {
            const int32_t t = mesh.vertices[i].texCoord;
            const MdlTexCoord tc = t >= 0 ? file.texCoords[size_t(t)] : MdlTexCoord{};
            values[i * 2] = GltfTexelCentre(tc.u, file.header.skinWidth);
            values[i * 2 + 1] = GltfTexelCentre(tc.v, file.header.skinHeight);
        }
        bin.Floats(values);
    }
    values.clear();
    for (const MdlSequence& seq : plan.sequences)
        for (int32_t k = 0; k < seq.frameCount; ++k) values.push_back(GltfKeyTime(k, fps));
    bin.Floats(values);
    values.assign(F, 0.0f);
    for (uint64_t k = 0; k < F && bin.Error() == 0; ++k) {
        values[k] = 1.0f;
        bin.Floats(values);
        values[k] = 0.0f;
    }
    if (plan.glb) {
        bin.Write(plan.png.data(), plan.png.size());
        bin.Pad(plan.png.size(), 0);
    }
    return bin.Error();
}

// Writes the document and the buffer (and a .gltf's picture) to the first
// `files` of `names`, each in place only once all are written. A result
// without failure when they are.
GltfExportResult WriteOutputs(const Plan& plan, const std::string& json, const std::string& outputPath,
                              const std::vector<std::string>& names, size_t files, int fps) {
    Outputs outputs;
    for (size_t i = 0; i < files; ++i)
        if (!outputs.Open(names[i])) return WriteFailure(names[i], errno);
    Sink bin(outputs[plan.glb ? 0 : 1]);
    if (plan.glb) {
        const uint64_t total = 12 + 8 + Padded(json.size()) + 8 + plan.layout.end;
        if (total > 0xFFFFFFFFull)
            return Fail(GltfExportFailure::Unsuitable, outputPath + ": the model needs more than 4 GiB as .glb");
        bin.Write("glTF", 4);
        bin.U32(2);
        bin.U32(uint32_t(total));
        bin.U32(uint32_t(Padded(json.size())));
        bin.Write("JSON", 4);
        bin.Write(json.data(), json.size());
        bin.Pad(json.size(), ' ');
        bin.U32(uint32_t(plan.layout.end));
        bin.Write("BIN\0", 4);
    }
    if (const int error = WriteBuffer(bin, plan, fps); error != 0) return WriteFailure(bin.Target(), error);
    if (!plan.glb) {
        Sink main(outputs[0]);
        main.Write(json.data(), json.size());
        main.Write("\n", 1);
        if (main.Error() != 0) return WriteFailure(main.Target(), main.Error());
        if (plan.textured) {
            Sink picture(outputs[2]);
            picture.Write(plan.png.data(), plan.png.size());
            if (picture.Error() != 0) return WriteFailure(picture.Target(), picture.Error());
        }
    }
    std::string failedPath;
    if (!outputs.Commit(failedPath)) return WriteFailure(failedPath, errno);
    return {};
}

GltfExportResult Export(const std::string& modelPath, const std::string& outputPath, const GltfExportOptions& options) {
    const MdlReadResult read = ReadMdlFile(modelPath.c_str());
    if (!read.ok()) {
        if (read.error.kind == MdlErrorKind::Io)
            return Fail(GltfExportFailure::Unreadable, modelPath + ": " + read.error.message);
        return Fail(GltfExportFailure::Malformed, modelPath + ": malformed model file (" +
                                                      std::string(MdlErrorKindName(read.error.kind)) + " at byte " +
                                                      std::to_string(read.error.offset) + "): " + read.error.message);
    }
    const MdlFile& file = read.file;
    const MdlHeader& h = file.header;
    GltfExportResult result;
    result.warnings = read.warnings;
    if (file.triangles.empty() || file.frames.empty())
        return Fail(GltfExportFailure::Unsuitable,
                    modelPath + ": no " + (file.triangles.empty() ? "triangles" : "frames") + ": nothing to show in glTF");
    if (options.fps <= 0) return Fail(GltfExportFailure::Unsuitable, "the frame rate must be above 0");
    // Positions are monotonic in the packed value: both ends finite, all finite.
    MdlPackedVertex lowest, highest;
    highest.x = highest.y = highest.z = file.sixteenBit ? 65535 : 255;
    for (const MdlVec3& p : {DecodeMdlPosition(h, lowest), DecodeMdlPosition(h, highest)}) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
            return Fail(GltfExportFailure::Unsuitable,
                        modelPath + ": its scale and origin put positions beyond single precision");
    }

    Plan plan;
    plan.file = &file;
    plan.mesh = SplitModelVertices(file.triangles, h.vertexCount);
    plan.sequences = GroupMdlSequences(file.frames);
    const uint64_t S = plan.mesh.vertices.size(), F = file.frames.size();

    // The skin as PNG; a model without one is written untextured.
    plan.textured = h.skinWidth > 0 && h.skinHeight > 0 && h.skinCount > 0;
    if (plan.textured) {
        std::string why;
        if (!EncodePng(SkinPicture(file), plan.png, why))
            return Fail(GltfExportFailure::Unsuitable, modelPath + ": the skin cannot be written as PNG: " + why);
        if (h.skinCount > 1)
            result.warnings.push_back("only the first of its " + std::to_string(h.skinCount) +
                                      " skins is written (the texture coordinates use the first)");
    } else {
        result.warnings.push_back("no skin: the glTF has no texture and no texture coordinates");
    }

    plan.glb = EndsWithGlb(outputPath);
    if (!MakeLayout(S, file.triangles.size(), F, plan.textured, plan.glb ? plan.png.size() : 0, plan.layout))
        return Fail(GltfExportFailure::Unsuitable,
                    modelPath + ": " + std::to_string(F) + " frames of " + std::to_string(S) +
                        " glTF vertices need a buffer beyond " + std::to_string(kGltfMaxBufferBytes) + " bytes");
    DecodeFrame(file, file.frames[0], plan.base, plan.baseNormals);
    const std::string json = MakeDocument(plan, std::filesystem::path(outputPath).stem().string(), options, result);
    if (json.empty()) return Fail(GltfExportFailure::Write, outputPath + ": the glTF document cannot be made");
    if (options.failOnWarning && !result.warnings.empty()) {
        result.failure = GltfExportFailure::Warned;
        result.error = outputPath + " not written: warnings are failures";
        return result;
    }

    // A .gltf's buffer and picture go in files of their own.
    const std::vector<std::string> names = GltfOutputFiles(outputPath);
    const size_t files = plan.glb ? 1 : (plan.textured ? 3 : 2);
    if (GltfExportResult failed = WriteOutputs(plan, json, outputPath, names, files, options.fps);
        failed.failure != GltfExportFailure::None)
        return failed;

    result.files.assign(names.begin(), names.begin() + files);
    std::error_code ec;
    result.bytes = std::filesystem::file_size(names[0], ec);
    result.modelVertices = h.vertexCount;
    result.vertices = int64_t(S);
    result.triangles = int64_t(file.triangles.size());
    result.morphTargets = int64_t(F);
    if (plan.textured) {
        result.skinWidth = h.skinWidth;
        result.skinHeight = h.skinHeight;
    }
    return result;
}

}  // namespace

GltfVec3 ToGltfAxes(float x, float y, float z) { return {y, z, x}; }

float GltfKeyTime(int64_t key, int fps) {
    const double exact = double(key) / double(fps);
    float time = float(exact);
    if (double(time) > exact) time = std::nextafter(time, -std::numeric_limits<float>::infinity());
    return time;
}

float GltfTexelCentre(int32_t pixel, int32_t size) { return float((double(pixel) + 0.5) / double(size)); }

GltfSplitMesh SplitModelVertices(const std::vector<MdlTriangle>& triangles, int32_t vertexCount) {
    // (vertex, texture coordinate + 1) as one sortable key; 0 marks a vertex no
    // triangle uses.
    auto key = [](uint32_t vertex, int64_t texCoord) { return uint64_t(vertex) << 32 | uint64_t(texCoord + 1); };
    std::vector<uint64_t> keys;
    std::vector<bool> used(size_t(std::max(vertexCount, 0)), false);
    keys.reserve(triangles.size() * 3);
    for (const MdlTriangle& t : triangles)
        for (int c = 0; c < 3; ++c) {
            keys.push_back(key(t.vertex[c], t.texCoord[c]));
            used[t.vertex[c]] = true;
        }
    for (size_t v = 0; v < used.size(); ++v)
        if (!used[v]) keys.push_back(key(uint32_t(v), -1));
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());

    GltfSplitMesh mesh;
    mesh.vertices.reserve(keys.size());
    for (uint64_t k : keys) mesh.vertices.push_back({uint32_t(k >> 32), int32_t(int64_t(k & 0xFFFFFFFFu) - 1)});
    mesh.indices.reserve(triangles.size() * 3);
    static const int corner[3] = {0, 2, 1};
    for (const MdlTriangle& t : triangles)
        for (int c : corner) {
            const uint64_t k = key(t.vertex[c], t.texCoord[c]);
            mesh.indices.push_back(uint32_t(std::lower_bound(keys.begin(), keys.end(), k) - keys.begin()));
        }
    return mesh;
}

std::string GltfUtf8(const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        // The length of a valid sequence starting here, 0 when none.
        size_t len = 0;
        if (c < 0x80) {
            len = 1;
        } else if (c >= 0xC2 && c <= 0xF4) {
            len = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            if (i + len > n) len = 0;
            for (size_t k = 1; k < len; ++k)
                if ((s[i + k] & 0xC0) != 0x80) len = 0;
            // Overlong forms, surrogates and code points past U+10FFFF.
            if (len == 3 && ((c == 0xE0 && s[i + 1] < 0xA0) || (c == 0xED && s[i + 1] >= 0xA0))) len = 0;
            if (len == 4 && ((c == 0xF0 && s[i + 1] < 0x90) || (c == 0xF4 && s[i + 1] >= 0x90))) len = 0;
        }
        if (len == 0) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
            ++i;
        } else {
            out.append(text, i, len);
            i += len;
        }
    }
    return out;
}

std::vector<std::string> GltfOutputFiles(const std::string& outputPath) {
    if (EndsWithGlb(outputPath)) return {outputPath};
    const std::filesystem::path out(outputPath);
    const std::filesystem::path folder = out.parent_path();
    const std::string stem = out.stem().string();
    return {outputPath, (folder / (stem + ".bin")).string(), (folder / (stem + ".png")).string()};
}

const char* GltfPendingTemporaryFile(int slot) {
    return slot >= 0 && slot < kGltfPendingMax ? pending[slot].load() : nullptr;
}

GltfExportResult ExportModelToGltf(const std::string& modelPath, const std::string& outputPath,
                                   const GltfExportOptions& options) {
    try {
        return Export(modelPath, outputPath, options);
    } catch (const std::bad_alloc&) {
        return Fail(GltfExportFailure::Unsuitable, modelPath + ": Not enough memory to write it as glTF");
    } catch (const std::exception& e) {
        return Fail(GltfExportFailure::Write, outputPath + ": " + e.what());
    }
}

}  // namespace quorvex::gltfout
