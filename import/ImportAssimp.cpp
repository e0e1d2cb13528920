// FBX, OBJ, COLLADA, 3DS and every other format Assimp reads, into the
// common animated-scene description.
#include <assimp/DefaultIOSystem.h>
#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <assimp/Importer.hpp>
#include <exception>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "import/AnimatedScene.h"
#include "import/Facing.h"
#include "import/Surfaces.h"
#include "import/IsolatedRead.h"
#include "scene/FolderCheck.h"
#include "scene/Limits.h"
#include "scene/Pictures.h"

namespace quorvex::importer {
using quorvex::scene::DecodePicture;
using quorvex::scene::kMaxInputFileBytes;
using quorvex::scene::kMaxMeshTriangles;
using quorvex::scene::LiesInside;
using quorvex::scene::LoadError;
using quorvex::scene::LoadErrorKind;
using quorvex::scene::Picture;

namespace {

Mat4d FromAssimp(const aiMatrix4x4& a) {
    Mat4d m;
    const ai_real* rows[4] = {&a.a1, &a.b1, &a.c1, &a.d1};
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) m.m[r][c] = static_cast<double>(rows[r][c]);
    }
    return m;
}

bool IsIdentity(const aiMatrix4x4& a) {
    const Mat4d m = FromAssimp(a);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            if (m.m[r][c] != (r == c ? 1.0 : 0.0)) return false;
        }
    }
    return true;
}

Wrap WrapOf(int mode) {
    switch (mode) {
        case aiTextureMapMode_Clamp:
        case aiTextureMapMode_Decal: return Wrap::Clamp;
        case aiTextureMapMode_Mirror: return Wrap::Mirror;
        default: return Wrap::Repeat;
    }
}

// An embedded picture: compressed bytes (height 0) or raw texels.
bool DecodeEmbedded(const aiTexture& tex, Picture& out, std::string& error) {
    if (tex.mHeight == 0) {
        return DecodePicture(reinterpret_cast<const unsigned char*>(tex.pcData), tex.mWidth, out, error);
    }
    if (tex.mWidth > 65535 || tex.mHeight > 65535) {
        error = "picture larger than 65535";
        return false;
    }
    out = Picture{};
    out.width = static_cast<uint16_t>(tex.mWidth);
    out.height = static_cast<uint16_t>(tex.mHeight);
    out.pixels.resize(static_cast<size_t>(tex.mWidth) * tex.mHeight);
    for (size_t i = 0; i < out.pixels.size(); ++i) {
        const aiTexel& t = tex.pcData[i];
        out.pixels[i] = {static_cast<uint16_t>(t.r * 257), static_cast<uint16_t>(t.g * 257),
                         static_cast<uint16_t>(t.b * 257), static_cast<uint16_t>(t.a * 257)};
    }
    return true;
}

// The files a model names beside itself (glTF 1.0 buffers, OBJ material
// libraries, ...) found the way its textures are: a path from the artist's
// machine, another letter case or `\` separators still reach the file in the
// model's folder. A file that is where the reader looks is opened as before,
// and the model itself is only ever the file the user named. A device or a
// pipe is never opened (it may never end), nor, when the model is confined to
// its folder, a file outside it; each such file is remembered, to be named in
// a warning.
class ModelFolderIOSystem : public Assimp::DefaultIOSystem {
public:
    ModelFolderIOSystem(const std::string& model, bool secure)
        : model_(model), baseDir_(FolderOf(model)), secure_(secure) {}
    bool Exists(const char* file) const override { return !Target(file).empty(); }
    Assimp::IOStream* Open(const char* file, const char* mode) override {
        if (!mode || mode[0] != 'r') return DefaultIOSystem::Open(file, mode);
        const std::string target = Target(file);
        return target.empty() ? nullptr : DefaultIOSystem::Open(target.c_str(), mode);
    }
    // One line each for the files left unread, in the order first asked for.
    std::vector<std::string> Refusals() const { return refusals_; }

private:
    // The path to open for `file`, or "" when there is none or it is refused.
    std::string Target(const char* file) const {
        if (!file) return "";
        if (model_ == file) return DefaultIOSystem::Exists(file) ? model_ : "";
        std::string target = DefaultIOSystem::Exists(file) ? std::string(file) : FindTextureFile(file, baseDir_);
        if (target.empty()) return "";
        std::error_code ec;
        const char* refusal = std::filesystem::status(target, ec).type() != std::filesystem::file_type::regular
                                  ? "is not a regular file: not read"
                              : secure_ && !LiesInside(target, baseDir_)
                                  ? "lies outside the model's folder: not read (--secure)"
                                  : nullptr;
        if (!refusal) return target;
        const std::string line = "file \"" + std::string(file) + "\" named by the model " + refusal;
        if (std::find(refusals_.begin(), refusals_.end(), line) == refusals_.end()) refusals_.push_back(line);
        return "";
    }
    std::string model_, baseDir_;
    bool secure_;
    mutable std::vector<std::string> refusals_;
};

struct Builder {
    const aiScene& ai;
    const std::string& path;
    AnimatedScene& out;
    std::map<std::string, int> nodeByName;  // first node of each name
    std::vector<int> skinOfMesh;
    std::vector<int> meshIndexOf;  // aiMesh index -> AnimMesh index, -1 when skipped

    // Adds top as a root and its tree under it depth first, each node before
    // its children, without recursion: a file may nest its nodes deeper than
    // our stack.
    int AddTree(const aiNode& top) {
        const int first = static_cast<int>(out.nodes.size());
        std::vector<std::pair<const aiNode*, int>> pending{{&top, -1}};
        while (!pending.empty()) {
            const auto [src, parent] = pending.back();
            pending.pop_back();
            const int index = static_cast<int>(out.nodes.size());
            out.nodes.emplace_back();
            AnimNode& node = out.nodes.back();
            node.name = src->mName.length > 0 ? std::string(src->mName.C_Str()) : "node" + std::to_string(index);
            node.parent = parent;
            node.matrix = FromAssimp(src->mTransformation);
            for (unsigned k = 0; k < src->mNumMeshes; ++k) {
                const unsigned m = src->mMeshes[k];
                if (m < meshIndexOf.size() && meshIndexOf[m] >= 0)
                    node.meshes.push_back({meshIndexOf[m], skinOfMesh[m]});
            }
            if (parent >= 0) out.nodes[parent].children.push_back(index);
            nodeByName.emplace(std::string(src->mName.C_Str()), index);
            for (unsigned c = src->mNumChildren; c-- > 0;) pending.emplace_back(src->mChildren[c], index);
        }
        return first;
    }

    void Materials() {
        for (unsigned m = 0; m < ai.mNumMaterials; ++m) {
            const aiMaterial& src = *ai.mMaterials[m];
            AnimMaterial mat;
            aiString name;
            if (src.Get(AI_MATKEY_NAME, name) == AI_SUCCESS) mat.name = name.C_Str();
            aiString file;
            aiTextureType type = aiTextureType_DIFFUSE;
            bool textured = src.GetTexture(type, 0, &file) == AI_SUCCESS;
            if (!textured) {
                type = aiTextureType_BASE_COLOR;
                textured = src.GetTexture(type, 0, &file) == AI_SUCCESS;
            }
            if (textured) {
                mat.diffuseMap = file.C_Str();
                int mode = aiTextureMapMode_Wrap;
                if (src.Get(AI_MATKEY_MAPPINGMODE_U(type, 0), mode) == AI_SUCCESS) mat.wrapU = WrapOf(mode);
                mode = aiTextureMapMode_Wrap;
                if (src.Get(AI_MATKEY_MAPPINGMODE_V(type, 0), mode) == AI_SUCCESS) mat.wrapV = WrapOf(mode);
            }
            aiColor4D colour;
            if (src.Get(AI_MATKEY_COLOR_DIFFUSE, colour) == AI_SUCCESS ||
                src.Get(AI_MATKEY_BASE_COLOR, colour) == AI_SUCCESS) {
                mat.colour = {colour.r, colour.g, colour.b, colour.a};
            }
            out.materials.push_back(std::move(mat));
        }
    }

    // Embedded pictures are decoded here, once each; pictures in files are
    // found and decoded with the rest (import/Surfaces.h).
    void Pictures() {
        std::map<std::string, std::string> failed;
        for (AnimMaterial& mat : out.materials) {
            if (mat.diffuseMap.empty()) continue;
            const aiTexture* tex = ai.GetEmbeddedTexture(mat.diffuseMap.c_str());
            if (!tex) continue;
            const std::string key = FileNameOf(path) + "#" + mat.diffuseMap;
            if (!out.pictures.count(key) && !failed.count(key)) {
                Picture picture;
                std::string why;
                if (DecodeEmbedded(*tex, picture, why)) {
                    out.pictures.emplace(key, std::move(picture));
                } else {
                    failed.emplace(key, "embedded picture " + mat.diffuseMap + " cannot be read: " + why);
                }
            }
            if (failed.count(key)) {
                mat.mapProblem = failed[key];
                mat.diffuseMap.clear();
            } else {
                mat.diffuseMap = key;
            }
        }
    }

    void Meshes() {
        meshIndexOf.assign(ai.mNumMeshes, -1);
        skinOfMesh.assign(ai.mNumMeshes, -1);
        for (unsigned m = 0; m < ai.mNumMeshes; ++m) {
            const aiMesh& src = *ai.mMeshes[m];
            AnimMesh mesh;
            mesh.name = src.mName.C_Str();
            if (src.mNumFaces > kMaxMeshTriangles) {
                throw std::length_error("meshes[" + std::to_string(m) + "]: " + std::to_string(src.mNumFaces) +
                                        " faces are more than the limit of " + std::to_string(kMaxMeshTriangles));
            }
            for (unsigned f = 0; f < src.mNumFaces; ++f) {
                const aiFace& face = src.mFaces[f];
                if (face.mNumIndices != 3) {  // points and lines carry no surface
                    if (face.mNumIndices == 1) ++out.skippedPoints;
                    if (face.mNumIndices == 2) ++out.skippedLines;
                    continue;
                }
                if (face.mIndices[0] >= src.mNumVertices || face.mIndices[1] >= src.mNumVertices ||
                    face.mIndices[2] >= src.mNumVertices) {
                    continue;
                }
                mesh.triangles.push_back({face.mIndices[0], face.mIndices[1], face.mIndices[2]});
            }
            // Only a scene read unchecked has a mesh without faces: its points.
            if (src.mNumFaces == 0) out.skippedPoints += src.mNumVertices;
            if (mesh.triangles.empty()) continue;
            mesh.positions.resize(src.mNumVertices);
            for (unsigned i = 0; i < src.mNumVertices; ++i) {
                mesh.positions[i] = {src.mVertices[i].x, src.mVertices[i].y, src.mVertices[i].z};
            }
            if (src.mTextureCoords[0]) {
                mesh.uvs.resize(src.mNumVertices);
                for (unsigned i = 0; i < src.mNumVertices; ++i) {
                    mesh.uvs[i] = {src.mTextureCoords[0][i].x, src.mTextureCoords[0][i].y};
                }
            }
            for (unsigned t = 0; t < src.mNumAnimMeshes; ++t) {
                const aiAnimMesh& target = *src.mAnimMeshes[t];
                std::vector<Vec3d> deltas(src.mNumVertices);
                if (target.mVertices && target.mNumVertices == src.mNumVertices) {
                    // Targets hold whole positions; we keep what they add.
                    for (unsigned i = 0; i < src.mNumVertices; ++i) {
                        deltas[i] = {static_cast<double>(target.mVertices[i].x) - mesh.positions[i].x,
                                     static_cast<double>(target.mVertices[i].y) - mesh.positions[i].y,
                                     static_cast<double>(target.mVertices[i].z) - mesh.positions[i].z};
                    }
                }
                mesh.morphTargets.push_back(std::move(deltas));
                mesh.defaultWeights.push_back(target.mWeight);
            }
            if (src.HasVertexColors(0)) {
                mesh.colours.resize(src.mNumVertices);
                for (unsigned i = 0; i < src.mNumVertices; ++i) {
                    const aiColor4D& c = src.mColors[0][i];
                    mesh.colours[i] = {c.r, c.g, c.b, c.a};
                }
            }
            mesh.material = src.mMaterialIndex < out.materials.size() ? static_cast<int>(src.mMaterialIndex) : -1;
            meshIndexOf[m] = static_cast<int>(out.meshes.size());
            out.meshes.push_back(std::move(mesh));
        }
    }

    // Skins need the nodes (bones are named nodes); run after AddTree.
    void Skins() {
        for (unsigned m = 0; m < ai.mNumMeshes; ++m) {
            const aiMesh& src = *ai.mMeshes[m];
            if (meshIndexOf[m] < 0 || src.mNumBones == 0) continue;
            AnimMesh& mesh = out.meshes[meshIndexOf[m]];
            AnimSkin skin;
            mesh.influences.assign(mesh.positions.size(), {});
            for (unsigned b = 0; b < src.mNumBones; ++b) {
                const aiBone& bone = *src.mBones[b];
                const auto node = nodeByName.find(bone.mName.C_Str());
                if (node == nodeByName.end()) continue;  // a bone without a node cannot move anything
                const uint32_t joint = static_cast<uint32_t>(skin.joints.size());
                skin.joints.push_back(node->second);
                skin.inverseBind.push_back(FromAssimp(bone.mOffsetMatrix));
                for (unsigned w = 0; w < bone.mNumWeights; ++w) {
                    const aiVertexWeight& vw = bone.mWeights[w];
                    if (vw.mVertexId < mesh.influences.size() && vw.mWeight != 0.0f) {
                        mesh.influences[vw.mVertexId].push_back({joint, vw.mWeight});
                    }
                }
            }
            const int index = static_cast<int>(out.skins.size());
            out.skins.push_back(std::move(skin));
            for (AnimNode& node : out.nodes) {
                for (MeshInstance& inst : node.meshes) {
                    if (inst.mesh == meshIndexOf[m]) inst.skin = index;
                }
            }
        }
    }

    void Clips() {
        for (unsigned a = 0; a < ai.mNumAnimations; ++a) {
            const aiAnimation& src = *ai.mAnimations[a];
            AnimClip clip;
            clip.name = src.mName.length > 0 ? std::string(src.mName.C_Str()) : "anim" + std::to_string(a);
            clip.madeUp = src.mName.length == 0;
            const double tps = src.mTicksPerSecond > 0.0 ? src.mTicksPerSecond : 25.0;
            double end = src.mDuration / tps;
            auto addTrack = [&](AnimTrack&& track) {
                if (track.times.empty()) return;
                for (size_t k = 1; k < track.times.size(); ++k) {
                    if (track.times[k] < track.times[k - 1]) return;  // keys out of order cannot be sampled
                }
                end = std::max(end, track.times.back());
                clip.tracks.push_back(std::move(track));
            };
            for (unsigned c = 0; c < src.mNumChannels; ++c) {
                const aiNodeAnim& ch = *src.mChannels[c];
                const auto node = nodeByName.find(ch.mNodeName.C_Str());
                if (node == nodeByName.end()) continue;
                AnimTrack t{node->second, TrackTarget::Translation, Interpolation::Linear, 3, {}, {}};
                for (unsigned k = 0; k < ch.mNumPositionKeys; ++k) {
                    t.times.push_back(ch.mPositionKeys[k].mTime / tps);
                    const aiVector3D& v = ch.mPositionKeys[k].mValue;
                    t.values.insert(t.values.end(), {v.x, v.y, v.z});
                }
                addTrack(std::move(t));
                AnimTrack r{node->second, TrackTarget::Rotation, Interpolation::Linear, 4, {}, {}};
                for (unsigned k = 0; k < ch.mNumRotationKeys; ++k) {
                    r.times.push_back(ch.mRotationKeys[k].mTime / tps);
                    const aiQuaternion& q = ch.mRotationKeys[k].mValue;
                    r.values.insert(r.values.end(), {q.x, q.y, q.z, q.w});
                }
                addTrack(std::move(r));
                AnimTrack s{node->second, TrackTarget::Scale, Interpolation::Linear, 3, {}, {}};
                for (unsigned k = 0; k < ch.mNumScalingKeys; ++k) {
                    s.times.push_back(ch.mScalingKeys[k].mTime / tps);
                    const aiVector3D& v = ch.mScalingKeys[k].mValue;
                    s.values.insert(s.values.end(), {v.x, v.y, v.z});
                }
                addTrack(std::move(s));
            }
            for (unsigned c = 0; c < src.mNumMorphMeshChannels; ++c) {
                const aiMeshMorphAnim& ch = *src.mMorphMeshChannels[c];
                // Channels are named after the node, sometimes with "*<mesh>" appended.
                std::string name = ch.mName.C_Str();
                auto node = nodeByName.find(name);
                if (node == nodeByName.end() && name.find('*') != std::string::npos) {
                    node = nodeByName.find(name.substr(0, name.find('*')));
                }
                if (node == nodeByName.end()) continue;
                size_t width = 0;
                for (const MeshInstance& inst : out.nodes[node->second].meshes) {
                    width = std::max(width, out.meshes[inst.mesh].morphTargets.size());
                }
                if (width == 0) continue;
                AnimTrack w{node->second, TrackTarget::Weights, Interpolation::Linear, width, {}, {}};
                for (unsigned k = 0; k < ch.mNumKeys; ++k) {
                    const aiMeshMorphKey& key = ch.mKeys[k];
                    w.times.push_back(key.mTime / tps);
                    std::vector<double> weights(width, 0.0);
                    for (unsigned v = 0; v < key.mNumValuesAndWeights; ++v) {
                        if (key.mValues[v] < width) weights[key.mValues[v]] = key.mWeights[v];
                    }
                    w.values.insert(w.values.end(), weights.begin(), weights.end());
                }
                addTrack(std::move(w));
            }
            clip.duration = std::max(end, 0.0);
            out.clips.push_back(std::move(clip));
        }
    }

    // The axes the file states (FBX's axis settings), else its format's.
    void Facing() {
        SignedAxis up, front;
        int32_t axis = -1, sign = 1;
        if (ai.mMetaData && ai.mMetaData->Get("UpAxis", axis) && axis >= 0 && axis <= 2) {
            up = {axis, ai.mMetaData->Get("UpAxisSign", sign) && sign < 0 ? -1 : 1};
            if (ai.mMetaData->Get("FrontAxis", axis) && axis >= 0 && axis <= 2) {
                sign = 1;
                front = {axis, ai.mMetaData->Get("FrontAxisSign", sign) && sign < 0 ? -1 : 1};
            }
        }
        out.toZUp = AssimpFileFacing(path, up, front);
    }
};

}  // namespace

namespace {

// An importer set up as every read needs it, reading through `files` (which
// it then owns).
void Configure(Assimp::Importer& importer, ModelFolderIOSystem* files) {
    importer.SetIOHandler(files);
    // One node per node of the file: no helper nodes for pivots.
    importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
    // A file without meshes gets no stand-in mesh drawing its skeleton.
    importer.SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
}

bool ReadAssimpScene(const std::string& path, bool secure, AnimatedScene& out, LoadError& error) {
    try {
        Assimp::Importer importer;
        auto* files = new ModelFolderIOSystem(path, secure);
        Configure(importer, files);
        // Projection mappings (planar, cylindrical, spherical) become texture
        // coordinates, and texture transforms are applied to them.
        const aiScene* ai =
            importer.ReadFile(path, aiProcess_Triangulate | aiProcess_SortByPType | aiProcess_ValidateDataStructure |
                                        aiProcess_GenUVCoords | aiProcess_TransformUVCoords);
        // Assimp's check refuses a scene without a mesh (a skeleton and its
        // motion) or a mesh without faces (a point cloud) outright. Read such
        // a file again unchecked, only to say what it holds: when it holds no
        // face at all, nothing of it is exported anyway. (A fresh importer: a
        // reader may keep state from its last file.)
        Assimp::Importer again;
        if (!ai) {
            const std::string why = importer.GetErrorString();
            if (why.find("aiScene::mNumMeshes is 0") != std::string::npos ||
                why.find("contains no faces") != std::string::npos) {
                files = new ModelFolderIOSystem(path, secure);
                Configure(again, files);
                ai = again.ReadFile(path, 0);
                for (unsigned m = 0; ai && m < ai->mNumMeshes; ++m) {
                    if (!ai->mMeshes[m] || ai->mMeshes[m]->mNumFaces > 0) ai = nullptr;
                }
                if (!ai) {
                    error = {LoadErrorKind::Malformed, path + ": " + why};
                    return false;
                }
            }
        }
        // A scene read whole but holding no mesh is incomplete to Assimp; it
        // goes on, to be refused for holding no triangle.
        const bool meshless = ai && ai->mRootNode && ai->mNumMeshes == 0;
        if (!ai || !ai->mRootNode || ((ai->mFlags & AI_SCENE_FLAGS_INCOMPLETE) && !meshless)) {
            const std::string why = importer.GetErrorString();
            error = {LoadErrorKind::Malformed, path + ": " + (why.empty() ? std::string("cannot be read") : why)};
            return false;
        }
        out = AnimatedScene{};
        out.baseDir = FolderOf(path);
        Builder b{*ai, path, out, {}, {}, {}};
        b.Materials();
        b.Pictures();
        b.Meshes();
        // The file's root is a container Assimp adds; when it holds nothing and
        // moves nothing, its children are the scene's roots.
        const aiNode& root = *ai->mRootNode;
        if (root.mNumMeshes == 0 && IsIdentity(root.mTransformation)) {
            for (unsigned c = 0; c < root.mNumChildren; ++c) out.roots.push_back(b.AddTree(*root.mChildren[c]));
        } else {
            out.roots.push_back(b.AddTree(root));
        }
        b.Skins();
        b.Clips();
        b.Facing();
        for (const std::string& line : files->Refusals()) out.warnings.push_back(line);
        return true;
    } catch (...) {
        return LoadFailure(path, error);
    }
}

// Assimp's readers, its checks and its scene's destructor recurse once per
// level of the file's node tree, about 2 KB a level; on a thread with this
// much stack (reserved, used only as deep as the file goes) a file tens of
// thousands of levels deep reads instead of overflowing the main stack.
constexpr size_t kReaderStack = size_t{512} << 20;

struct ReadJob {
    const std::string* path;
    bool secure;
    AnimatedScene* out;
    LoadError* error;
    bool ok = false;
};

void* RunReadJob(void* arg) {
    ReadJob& job = *static_cast<ReadJob*>(arg);
    job.ok = ReadAssimpScene(*job.path, job.secure, *job.out, *job.error);
    return nullptr;
}

bool ReadOnLargeStack(const std::string& path, bool secure, AnimatedScene& out, LoadError& error) {
    ReadJob job{&path, secure, &out, &error};
    pthread_attr_t attr;
    pthread_t thread;
    bool started = false;
    if (pthread_attr_init(&attr) == 0) {
        started = pthread_attr_setstacksize(&attr, kReaderStack) == 0 &&
                  pthread_create(&thread, &attr, RunReadJob, &job) == 0;
        pthread_attr_destroy(&attr);
    }
    if (!started) return ReadAssimpScene(path, secure, out, error);  // no room for a thread: read here
    pthread_join(thread, nullptr);
    return job.ok;
}

// What can be told without the reader: false with `error` when the file is
// missing, unreadable, not a regular file or too large.
bool CheckModelFile(const std::string& path, LoadError& error) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec) {
        error = {LoadErrorKind::Unreadable, path + ": cannot read the file: " + ec.message()};
        return false;
    }
    // The reader itself would take a device or a pipe for a file.
    if (status.type() != std::filesystem::file_type::regular) {
        error = {LoadErrorKind::Unreadable, path + ": cannot read the file: not a regular file"};
        return false;
    }
    if (std::filesystem::file_size(path, ec) > kMaxInputFileBytes && !ec) {
        error = {LoadErrorKind::OverLimit, path + ": cannot read the file: it holds more than the limit of " +
                                               std::to_string(kMaxInputFileBytes) + " bytes"};
        return false;
    }
    if (access(path.c_str(), R_OK) != 0) {
        error = {LoadErrorKind::Unreadable, path + ": cannot read the file: " + std::strerror(errno)};
        return false;
    }
    return true;
}

}  // namespace

bool LoadAssimpSceneUnguarded(const std::string& path, AnimatedScene& out, LoadError& error,
                              const LoadSettings& settings) {
    return CheckModelFile(path, error) && ReadOnLargeStack(path, settings.secure, out, error);
}

bool LoadAssimpScene(const std::string& path, AnimatedScene& out, LoadError& error, const LoadSettings& settings) {
    // Assimp's readers crash on some hostile files; in a process of their own
    // that ends as a refusal, not as the command's death.
    const bool secure = settings.secure;
    try {
        if (!CheckModelFile(path, error)) return false;
        return ReadIsolated(
            path, settings.limits,
            [&path, secure](AnimatedScene& scene, LoadError& why) {
                return ReadOnLargeStack(path, secure, scene, why);
            },
            out, error);
    } catch (...) {
        return LoadFailure(path, error);
    }
}

}  // namespace quorvex::importer
