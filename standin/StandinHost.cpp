#include "standin/StandinHost.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <new>
#include <unordered_map>
#include <utility>

#include "scene/FolderCheck.h"
#include "standin/HostProbe.h"

namespace quorvex::standin {
using quorvex::scene::Color64;
using quorvex::scene::ConvertMode;
using quorvex::scene::Keyed;
using quorvex::scene::LiesInside;
using quorvex::scene::LoadPictureFile;
using quorvex::scene::MapKind;
using quorvex::scene::MaterialKind;
using quorvex::scene::MeshData;
using quorvex::scene::NodeData;
using quorvex::scene::NoteKeyData;
using quorvex::scene::ObjectData;
using quorvex::scene::ObjectKind;
using quorvex::scene::Picture;
using quorvex::scene::SceneDocument;
using quorvex::scene::SharedList;

namespace {

// The value of a keyed value at t; null when it has no keys at all (a document
// built in code may leave one empty; the host then reports the neutral value).
template <class T>
const T* ValueAt(const Keyed<T>& keyed, TimeValue t) {
    if (keyed.keys.empty()) return nullptr;
    return &keyed.At(t);
}

// The host's face layouts, converted once per distinct list of the document:
// every key of a mesh that shares its triangles shares their conversion too.
struct FaceLayouts {
    std::unordered_map<const void*, std::shared_ptr<const std::vector<Face>>> faces;
    std::unordered_map<const void*, std::shared_ptr<const std::vector<TVFace>>> tvfaces;

    std::shared_ptr<const std::vector<Face>> Faces(const SharedList<std::array<uint32_t, 3>>& list) {
        auto& slot = faces[list.Identity()];
        if (!slot) {
            std::vector<Face> out;
            out.reserve(list.size());
            for (const auto& f : list) {
                Face face;
                face.v[0] = f[0];
                face.v[1] = f[1];
                face.v[2] = f[2];
                out.push_back(face);
            }
            slot = std::make_shared<const std::vector<Face>>(std::move(out));
        }
        return slot;
    }
    std::shared_ptr<const std::vector<TVFace>> TVFaces(const SharedList<std::array<uint32_t, 3>>& list) {
        auto& slot = tvfaces[list.Identity()];
        if (!slot) {
            std::vector<TVFace> out;
            out.reserve(list.size());
            for (const auto& f : list) out.push_back(TVFace{{f[0], f[1], f[2]}});
            slot = std::make_shared<const std::vector<TVFace>>(std::move(out));
        }
        return slot;
    }
};

// One key of a mesh in the layout the host hands out. Immutable once built, so
// a converted copy can share it with the document's object instead of copying.
// The vertices and texture coordinates are the document's own, which the host
// holds unchanged for its whole life.
struct MeshStore {
    std::shared_ptr<const std::vector<Face>> faces;
    std::shared_ptr<const std::vector<TVFace>> tvfaces;
    Mesh view;

    MeshStore(const MeshData& data, FaceLayouts& layouts)
        : faces(layouts.Faces(data.faces)), tvfaces(layouts.TVFaces(data.tvfaces)) {
        view.numVerts = static_cast<int>(data.verts.size());
        view.numFaces = static_cast<int>(faces->size());
        view.numTVerts = static_cast<int>(data.tverts.size());
        view.verts = data.verts.empty() ? nullptr : data.verts.data();
        view.faces = faces->empty() ? nullptr : faces->data();
        view.tVerts = data.tverts.data();
        view.tvFace = tvfaces->empty() ? nullptr : tvfaces->data();
    }
    MeshStore() = default;

    const Mesh& View() const { return view; }
};

using SharedMesh = std::shared_ptr<const MeshStore>;

// A mesh's keys, converted once when the host is built.
struct MeshKeys {
    std::vector<std::pair<TimeValue, SharedMesh>> keys;
    SharedMesh empty = std::make_shared<MeshStore>();

    MeshKeys(const Keyed<MeshData>& data, FaceLayouts& layouts) {
        keys.reserve(data.keys.size());
        for (const auto& k : data.keys) keys.emplace_back(k.time, std::make_shared<MeshStore>(k.value, layouts));
    }
    MeshKeys() = default;

    // The last key at or before t, else the first (binary search).
    const SharedMesh& At(TimeValue t) const {
        if (keys.empty()) return empty;
        auto after =
            std::upper_bound(keys.begin(), keys.end(), t, [](TimeValue time, const auto& k) { return time < k.first; });
        return after == keys.begin() ? after->second : std::prev(after)->second;
    }
};

}  // namespace

// ------------------------------------------------------------ the host's state

struct StandinHost::Impl {
    Impl(StandinHost& owner, SceneDocument doc) : owner(owner), document(std::move(doc)) {}

    StandinHost& owner;  // for the probe a test attaches

    SceneDocument document;  // never changed while the host lives: meshes point into it
    FaceLayouts layouts;
    HostCounters counters;

    class SceneNode;
    class NodeObject;
    class SameTriObject;
    class CopyTriObject;
    class SceneMtl;
    class SceneBitmapTex;
    class OtherTexmap;
    class SceneNoteTrack;
    class SceneClip;
    class SceneDefNoteTrack;
    class SceneBitmap;
    class SceneBitmapManager;

    // Everything the host made. The scene's own objects live as long as the
    // host. Handed-out objects are only marked when released, so a second
    // release is counted instead of freeing twice, and a late read of a
    // released object stays harmless; ExportEnded frees the released ones.
    std::deque<std::unique_ptr<SceneNode>> nodes;
    std::deque<std::unique_ptr<NodeObject>> nodeObjects;
    std::deque<std::unique_ptr<SameTriObject>> sameObjects;
    std::deque<std::unique_ptr<CopyTriObject>> copies;
    std::deque<std::unique_ptr<SceneMtl>> materials;
    std::deque<std::unique_ptr<SceneBitmapTex>> bitmapMaps;
    std::deque<std::unique_ptr<OtherTexmap>> otherMaps;
    std::deque<std::unique_ptr<SceneNoteTrack>> noteTracks;
    std::deque<std::unique_ptr<SceneClip>> clips;
    std::deque<std::unique_ptr<SceneDefNoteTrack>> defNoteTracks;
    std::deque<std::unique_ptr<SceneBitmap>> bitmaps;
    std::unique_ptr<SceneBitmapManager> manager;

    SceneNode* root = nullptr;

    // Counts a caller's release of a handed-out object: the first one in
    // `released`, any further one as a double release.
    void Release(bool& flag, int& released) {
        if (flag) {
            ++counters.doubleReleases;
        } else {
            flag = true;
            ++released;
        }
    }

    Object* MakeCopy(SharedMesh mesh);
    TrackClipObject* MakeClip(NoteKeyTab keys);
    void Build();
    Bitmap* LoadBitmap(BitmapInfo* info, uint16_t* status);
};

// A converted triangle mesh that the caller owns.
class StandinHost::Impl::CopyTriObject final : public TriObject {
public:
    CopyTriObject(Impl& host, SharedMesh mesh) : host_(host), mesh_(std::move(mesh)), view_(mesh_->View()) {}
    ~CopyTriObject() override = default;

    SClass_ID SuperClassID() override { return GEOMOBJECT_CLASS_ID; }
    Class_ID ClassID() override { return TRIOBJ_CLASS_ID; }
    int CanConvertToType(Class_ID cid) override { return cid == TRIOBJ_CLASS_ID ? 1 : 0; }
    // Already a triangle mesh: converting gives the object itself, which stays
    // the caller's to release once.
    Object* ConvertToType(TimeValue, Class_ID cid) override { return cid == TRIOBJ_CLASS_ID ? this : nullptr; }
    void DeleteThis() override { host_.Release(released_, host_.counters.conversionsReleased); }
    const Mesh& GetMesh() override { return view_; }
    bool Released() const { return released_; }

private:
    Impl& host_;
    SharedMesh mesh_;
    Mesh view_;
    bool released_ = false;
};

// Hand-outs answer null when memory runs out, as the host's contracts allow,
// instead of throwing into the exporter.
Object* StandinHost::Impl::MakeCopy(SharedMesh mesh) {
    try {
        copies.push_back(std::make_unique<CopyTriObject>(*this, std::move(mesh)));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    ++counters.conversions;
    return copies.back().get();
}

// A mesh object that already is a triangle mesh. It belongs to the host; its
// mesh is the one of the time it was last evaluated or converted at.
class StandinHost::Impl::SameTriObject final : public TriObject {
public:
    SameTriObject(Impl& host, const Keyed<MeshData>& data) : host_(host), mesh_(data, host.layouts) { SetTime(0); }
    ~SameTriObject() override = default;

    void SetTime(TimeValue t) {
        current_ = mesh_.At(t);
        view_ = current_->View();
    }

    SClass_ID SuperClassID() override { return GEOMOBJECT_CLASS_ID; }
    Class_ID ClassID() override { return TRIOBJ_CLASS_ID; }
    int CanConvertToType(Class_ID cid) override { return cid == TRIOBJ_CLASS_ID ? 1 : 0; }
    Object* ConvertToType(TimeValue t, Class_ID cid) override {
        if (!(cid == TRIOBJ_CLASS_ID)) return nullptr;
        SetTime(t);
        return this;
    }
    void DeleteThis() override { ++host_.counters.hostOwnedReleases; }
    const Mesh& GetMesh() override { return view_; }

private:
    Impl& host_;
    MeshKeys mesh_;
    SharedMesh current_;
    Mesh view_;
};

// Every other object a node can hold: mesh objects that convert by copy or not
// at all, and the kinds without geometry. Host-owned.
class StandinHost::Impl::NodeObject final : public Object {
public:
    NodeObject(Impl& host, const ObjectData& data) : host_(host), kind_(data.kind), convert_(data.convert) {
        if (kind_ == ObjectKind::Mesh) mesh_ = MeshKeys(data.mesh, host.layouts);
    }
    ~NodeObject() override = default;

    SClass_ID SuperClassID() override {
        switch (kind_) {
            case ObjectKind::Helper: return HELPER_CLASS_ID;
            case ObjectKind::Camera: return CAMERA_CLASS_ID;
            case ObjectKind::Light: return LIGHT_CLASS_ID;
            default: return GEOMOBJECT_CLASS_ID;
        }
    }
    Class_ID ClassID() override {
        switch (kind_) {
            case ObjectKind::Mesh: return Class_ID{0x10, 0};
            case ObjectKind::Unconvertible: return Class_ID{0x20, 0};
            case ObjectKind::Target: return TARGET_CLASS_ID;
            case ObjectKind::Helper: return Class_ID{0x2, 0};
            case ObjectKind::Camera: return Class_ID{0x1001, 0};
            case ObjectKind::Light: return Class_ID{0x1011, 0};
        }
        return Class_ID{};
    }
    int CanConvertToType(Class_ID cid) override {
        if (!(cid == TRIOBJ_CLASS_ID)) return 0;
        return kind_ == ObjectKind::Mesh || kind_ == ObjectKind::Target ? 1 : 0;
    }
    Object* ConvertToType(TimeValue t, Class_ID cid) override {
        if (!(cid == TRIOBJ_CLASS_ID)) return nullptr;
        if (kind_ == ObjectKind::Target) return host_.MakeCopy(mesh_.empty);  // an aim point has no geometry
        if (kind_ != ObjectKind::Mesh || convert_ == ConvertMode::None) return nullptr;
        return host_.MakeCopy(mesh_.At(t));
    }
    void DeleteThis() override { ++host_.counters.hostOwnedReleases; }

private:
    Impl& host_;
    ObjectKind kind_;
    ConvertMode convert_;
    MeshKeys mesh_;
};

// ------------------------------------------------------------ materials and maps

class StandinHost::Impl::SceneBitmapTex final : public BitmapTex {
public:
    explicit SceneBitmapTex(std::string file) : file_(std::move(file)) {}
    ~SceneBitmapTex() override = default;
    Class_ID ClassID() override { return BITMAP_TEX_CLASS_ID; }
    const char* GetMapName() override { return file_.c_str(); }

private:
    std::string file_;
};

class StandinHost::Impl::OtherTexmap final : public Texmap {
public:
    ~OtherTexmap() override = default;
    Class_ID ClassID() override { return Class_ID{0x241, 0}; }
};

class StandinHost::Impl::SceneMtl final : public Mtl {
public:
    SceneMtl(Class_ID id, Texmap* diffuse) : id_(id), diffuse_(diffuse) {}
    ~SceneMtl() override = default;
    Class_ID ClassID() override { return id_; }
    Texmap* GetSubTexmap(int i) override { return i == 1 ? diffuse_ : nullptr; }

private:
    Class_ID id_;
    Texmap* diffuse_;  // only ever set on a standard material
};

// ------------------------------------------------------------ note tracks

class StandinHost::Impl::SceneClip final : public TrackClipObject {
public:
    SceneClip(Impl& host, NoteKeyTab keys) : keys(std::move(keys)), host_(host) {}
    ~SceneClip() override = default;
    void DeleteThis() override { host_.Release(released, host_.counters.clipsReleased); }
    bool Released() const { return released; }

    NoteKeyTab keys;
    bool released = false;

private:
    Impl& host_;
};

class StandinHost::Impl::SceneNoteTrack final : public NoteTrack {
public:
    SceneNoteTrack(Impl& host, const std::vector<NoteKeyData>& keys) : host_(host), keys_(keys) {}
    ~SceneNoteTrack() override = default;

    int NumKeys() override { return static_cast<int>(keys_.size()); }
    TimeValue GetKeyTime(int i) override {
        if (i < 0 || static_cast<size_t>(i) >= keys_.size()) return 0;
        return keys_[static_cast<size_t>(i)].time;
    }
    // Every key, whatever the interval: the exporter asks for the whole track.
    TrackClipObject* CopyTrack(Interval, int) override {
        try {
            NoteKeyTab keys;
            keys.reserve(keys_.size());
            for (const NoteKeyData& k : keys_) keys.push_back(NoteKey{k.time, CStr(k.text.c_str())});
            return host_.MakeClip(std::move(keys));
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }

private:
    Impl& host_;
    const std::vector<NoteKeyData>& keys_;
};

class StandinHost::Impl::SceneDefNoteTrack final : public DefNoteTrack {
public:
    explicit SceneDefNoteTrack(Impl& host) : host_(host) {}
    ~SceneDefNoteTrack() override = default;

    TrackClipObject* CopyTrack(Interval, int) override {
        try {
            return host_.MakeClip(keys);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
    }
    // Only clips of this host paste, and not once released: a paste from a
    // released clip fails so the fault shows instead of passing unnoticed.
    int PasteTrack(TrackClipObject* clip, Interval, int) override {
        auto* ours = dynamic_cast<SceneClip*>(clip);
        if (!ours || ours->released) return 0;
        size_t count = ours->keys.size();
        const int limit = host_.owner.probe ? host_.owner.probe->pasteKeyLimit : -1;
        if (limit >= 0 && static_cast<size_t>(limit) < count) count = static_cast<size_t>(limit);
        try {
            keys.insert(keys.end(), ours->keys.begin(), ours->keys.begin() + static_cast<std::ptrdiff_t>(count));
        } catch (const std::bad_alloc&) {
            return 0;
        }
        return 1;
    }
    void DeleteThis() override { host_.Release(released_, host_.counters.noteTracksDeleted); }
    bool Released() const { return released_; }

private:
    Impl& host_;
    bool released_ = false;
};

TrackClipObject* StandinHost::Impl::MakeClip(NoteKeyTab keys) {
    clips.push_back(std::make_unique<SceneClip>(*this, std::move(keys)));
    ++counters.clipsMade;
    return clips.back().get();
}

// ------------------------------------------------------------ nodes

class StandinHost::Impl::SceneNode final : public INode {
public:
    SceneNode(Impl& host, const NodeData* data, SceneNode* parent) : host_(host), data_(data), parent_(parent) {}
    ~SceneNode() override = default;

    int NumberOfChildren() override { return static_cast<int>(children.size()); }
    INode* GetChildNode(int i) override {
        if (i < 0 || static_cast<size_t>(i) >= children.size()) return nullptr;
        return children[static_cast<size_t>(i)];
    }
    const char* GetName() override { return data_ ? data_->name.c_str() : ""; }
    int IsHidden(int, bool) override { return data_ && data_->hidden ? 1 : 0; }
    ObjectState EvalWorldState(TimeValue t, bool) override {
        if (HostProbe* probe = host_.owner.probe) {
            try {
                probe->evalLog.push_back(EvalCall{GetName(), t});
            } catch (const std::bad_alloc&) {
                // The log is for tests; an evaluation never fails for its sake.
            }
        }
        if (same) same->SetTime(t);
        return ObjectState{object};
    }
    Matrix3 GetObjTMAfterWSM(TimeValue t, Interval* valid) override {
        if (valid) *valid = Interval{t, t};
        return World(t);
    }
    Mtl* GetMtl() override { return material; }
    int NumNoteTracks() override { return static_cast<int>(noteTracks.size()); }
    NoteTrack* GetNoteTrack(int i) override {
        if (i < 0 || static_cast<size_t>(i) >= noteTracks.size()) return nullptr;
        return noteTracks[static_cast<size_t>(i)];
    }

    // transform(node, t) x world(parent, t), the root's world being the
    // identity. The product with the identity is still computed, as the host
    // does (it can turn a -0 into +0). Each node keeps its world matrix of the
    // last time asked, so a walk that asks parents before children multiplies
    // once per node, however deep the scene; the ancestors still to compute
    // are gathered without recursion so a deep scene cannot exhaust the stack.
    Matrix3 World(TimeValue t) const {
        if (!data_) return Matrix3{};
        if (worldKnown_ && worldTime_ == t) return world_;
        if (!parent_->data_ || (parent_->worldKnown_ && parent_->worldTime_ == t)) {
            return Remember(t, Local(t) * (parent_->data_ ? parent_->world_ : Matrix3{}));
        }
        std::vector<const SceneNode*> chain;
        const SceneNode* n = this;
        try {
            for (; n && n->data_ && !(n->worldKnown_ && n->worldTime_ == t); n = n->parent_) chain.push_back(n);
        } catch (const std::bad_alloc&) {
            // A host's matrix query cannot fail: without memory for the chain,
            // the topmost ancestor still unknown is found again from here for
            // each level, in the same order of products.
            for (;;) {
                const SceneNode* top = this;
                while (top->parent_->data_ && !(top->parent_->worldKnown_ && top->parent_->worldTime_ == t)) {
                    top = top->parent_;
                }
                const Matrix3 world =
                    top->Remember(t, top->Local(t) * (top->parent_->data_ ? top->parent_->world_ : Matrix3{}));
                if (top == this) return world;
            }
        }
        Matrix3 world = n && n->data_ ? n->world_ : Matrix3{};
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) world = (*it)->Remember(t, (*it)->Local(t) * world);
        return world;
    }

    const Matrix3& Remember(TimeValue t, const Matrix3& world) const {
        world_ = world;
        worldTime_ = t;
        worldKnown_ = true;
        return world_;
    }

    Matrix3 Local(TimeValue t) const {
        const Matrix3* m = data_ ? ValueAt(data_->transform, t) : nullptr;
        return m ? *m : Matrix3{};
    }

    std::vector<SceneNode*> children;
    Object* object = nullptr;
    SameTriObject* same = nullptr;  // the object when it is a host-owned triangle mesh
    Mtl* material = nullptr;
    std::vector<NoteTrack*> noteTracks;

private:
    Impl& host_;
    const NodeData* data_;  // null for the scene root
    SceneNode* parent_;
    // World() of the time last asked; the document never changes, so it stays true.
    mutable Matrix3 world_;
    mutable TimeValue worldTime_ = 0;
    mutable bool worldKnown_ = false;
};

void StandinHost::Impl::Build() {
    nodes.push_back(std::make_unique<SceneNode>(*this, nullptr, nullptr));
    root = nodes.back().get();

    // Breadth of work instead of recursion: a deep scene cannot exhaust the stack.
    std::vector<std::pair<SceneNode*, const std::vector<NodeData>*>> pending{{root, &document.nodes}};
    while (!pending.empty()) {
        auto [parent, list] = pending.back();
        pending.pop_back();
        for (const NodeData& data : *list) {
            nodes.push_back(std::make_unique<SceneNode>(*this, &data, parent));
            SceneNode* node = nodes.back().get();
            parent->children.push_back(node);

            if (data.object) {
                if (data.object->kind == ObjectKind::Mesh && data.object->convert == ConvertMode::Same) {
                    sameObjects.push_back(std::make_unique<SameTriObject>(*this, data.object->mesh));
                    node->same = sameObjects.back().get();
                    node->object = node->same;
                } else {
                    nodeObjects.push_back(std::make_unique<NodeObject>(*this, *data.object));
                    node->object = nodeObjects.back().get();
                }
            }
            if (data.material) {
                Texmap* diffuse = nullptr;
                Class_ID id{0x200, 0};
                if (data.material->kind == MaterialKind::Standard) {
                    id = STANDARD_MTL_CLASS_ID;
                    if (data.material->diffuse) {
                        if (data.material->diffuse->kind == MapKind::Bitmap) {
                            bitmapMaps.push_back(std::make_unique<SceneBitmapTex>(data.material->diffuse->file));
                            diffuse = bitmapMaps.back().get();
                        } else {
                            otherMaps.push_back(std::make_unique<OtherTexmap>());
                            diffuse = otherMaps.back().get();
                        }
                    }
                }
                materials.push_back(std::make_unique<SceneMtl>(id, diffuse));
                node->material = materials.back().get();
            }
            for (const auto& track : data.noteTracks) {
                noteTracks.push_back(std::make_unique<SceneNoteTrack>(*this, track));
                node->noteTracks.push_back(noteTracks.back().get());
            }
            if (!data.children.empty()) pending.emplace_back(node, &data.children);
        }
    }
}

// ------------------------------------------------------------ bitmaps

class StandinHost::Impl::SceneBitmap final : public Bitmap {
public:
    SceneBitmap(Impl& host, std::shared_ptr<const Picture> picture) : host_(host), picture_(std::move(picture)) {
        // A picture without pixel storage is 0 x 0, whatever its other side.
        if (picture_->width != 0 && picture_->height != 0) {
            width_ = picture_->width;
            height_ = picture_->height;
        }
        // A picture whose pixels do not cover its size (possible only in a
        // document built in code) reads nothing rather than out of bounds.
        const size_t need = static_cast<size_t>(width_) * height_;
        readable_ = picture_->plain || picture_->pixels.size() >= need;
    }
    ~SceneBitmap() override = default;

    uint16_t Width() override { return width_; }
    uint16_t Height() override { return height_; }
    int GetPixels(int x, int y, int count, BMM_Color_64* out) override {
        if (!out || !readable_ || count <= 0 || x < 0 || y < 0 || y >= height_) return 0;
        if (static_cast<int64_t>(x) + count > width_) return 0;
        if (picture_->plain) {
            for (int i = 0; i < count; ++i) out[i] = picture_->fill;
        } else {
            const Color64* row = picture_->pixels.data() + static_cast<size_t>(y) * width_ + static_cast<size_t>(x);
            for (int i = 0; i < count; ++i) out[i] = row[i];
        }
        return 1;
    }
    void DeleteThis() override { host_.Release(released_, host_.counters.bitmapsReleased); }
    bool Released() const { return released_; }

private:
    Impl& host_;
    std::shared_ptr<const Picture> picture_;
    uint16_t width_ = 0;
    uint16_t height_ = 0;
    bool readable_ = false;
    bool released_ = false;
};

class StandinHost::Impl::SceneBitmapManager final : public BitmapManager {
public:
    explicit SceneBitmapManager(Impl& host) : host_(host) {}
    ~SceneBitmapManager() override = default;
    Bitmap* Load(BitmapInfo* info, uint16_t* status) override {
        try {
            return host_.LoadBitmap(info, status);
        } catch (const std::bad_alloc&) {
            return nullptr;  // status already says the load failed
        }
    }

private:
    Impl& host_;
};

namespace {
// Status words the manager reports.
constexpr uint16_t kLoadSucceeded = 0;
constexpr uint16_t kLoadFailed = 1;
}  // namespace

Bitmap* StandinHost::Impl::LoadBitmap(BitmapInfo* info, uint16_t* status) {
    if (status) *status = kLoadFailed;
    if (!info) return nullptr;
    const std::string name = info->Name();
    if (name.empty()) return nullptr;

    std::shared_ptr<const Picture> picture;
    if (auto found = document.images.find(name); found != document.images.end()) {
        // Aliases the document's image: no copy of its pixels per load.
        picture = std::shared_ptr<const Picture>(std::shared_ptr<void>(), &found->second);
    } else {
        std::string path = name;
        if (name.front() != '/' && !document.baseDir.empty()) {
            path = document.baseDir;
            if (path.back() != '/') path += '/';
            path += name;
        }
        auto loaded = std::make_shared<Picture>();
        std::string error;
        if (owner.confinePictures && !LiesInside(path, document.baseDir)) {
            if (owner.onPictureError)
                owner.onPictureError(path + ": lies outside the scene's folder: not read (--secure)");
            return nullptr;
        }
        if (!LoadPictureFile(path, *loaded, error)) {
            if (owner.onPictureError) owner.onPictureError(error);
            return nullptr;
        }
        picture = std::move(loaded);
    }
    bitmaps.push_back(std::make_unique<SceneBitmap>(*this, std::move(picture)));
    ++counters.bitmapsLoaded;
    if (status) *status = kLoadSucceeded;
    return bitmaps.back().get();
}

// ------------------------------------------------------------ StandinHost

StandinHost::StandinHost(SceneDocument document) : impl_(std::make_unique<Impl>(*this, std::move(document))) {
    impl_->manager = std::make_unique<Impl::SceneBitmapManager>(*impl_);
    impl_->Build();
}

StandinHost::~StandinHost() {
    // A host that dies while installed must not leave the globals dangling.
    if (GetHostGlobals() == this) SetHostGlobals(nullptr);
}

HWND StandinHost::GetMAXHWnd() {
    // Never dereferenced: the Win32 stand-in only compares window handles.
    static char mainWindow;
    return reinterpret_cast<HWND>(&mainWindow);
}

INode* StandinHost::GetRootNode() { return impl_->root; }

Interval StandinHost::GetAnimRange() { return impl_->document.animRange; }

// The log is for tests and the callback draws a bar: a progress call never
// fails, nor throws into the exporter, for their sake.
void StandinHost::Progress(ProgressCall::Kind kind, const char* caption, int percent) noexcept {
    try {
        const ProgressCall call{kind, caption ? caption : "", percent};
        if (probe) probe->progressLog.push_back(call);
        if (onProgress) onProgress(call);
    } catch (const std::bad_alloc&) {}
}

int StandinHost::ProgressStart(const char* caption, bool, ProgressRoutine, void*) {
    Progress(ProgressCall::Start, caption, 0);
    return 1;
}

void StandinHost::ProgressUpdate(int percent, bool, const char* caption) {
    Progress(ProgressCall::Update, caption, percent);
}

void StandinHost::ProgressEnd() { Progress(ProgressCall::End, "", 0); }

int StandinHost::GetTicksPerFrame() {
    if (probe) ++probe->ticksPerFrameCalls;
    return impl_->document.ticksPerFrame;
}

void StandinHost::InitCustomControls(HINSTANCE) { ++impl_->counters.initCustomControlsCalls; }

void StandinHost::CenterWindow(HWND, HWND) { ++impl_->counters.centerWindowCalls; }

BitmapManager* StandinHost::Manager() { return impl_->manager.get(); }

DefNoteTrack* StandinHost::NewDefaultNoteTrack() {
    try {
        impl_->defNoteTracks.push_back(std::make_unique<Impl::SceneDefNoteTrack>(*impl_));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    ++impl_->counters.noteTracksMade;
    return impl_->defNoteTracks.back().get();
}

const SceneDocument& StandinHost::Document() const { return impl_->document; }

const HostCounters& StandinHost::Counters() const { return impl_->counters; }

bool StandinHost::AllReleasedOnce() const {
    const HostCounters& c = impl_->counters;
    return c.conversions == c.conversionsReleased && c.bitmapsLoaded == c.bitmapsReleased &&
           c.clipsMade == c.clipsReleased && c.noteTracksMade == c.noteTracksDeleted && c.hostOwnedReleases == 0 &&
           c.doubleReleases == 0;
}

void StandinHost::ExportEnded() {
    auto released = [](const auto& object) { return object->Released(); };
    std::erase_if(impl_->copies, released);
    std::erase_if(impl_->bitmaps, released);
    std::erase_if(impl_->clips, released);
    std::erase_if(impl_->defNoteTracks, released);
}

size_t StandinHost::HeldObjects() const {
    return impl_->copies.size() + impl_->bitmaps.size() + impl_->clips.size() + impl_->defNoteTracks.size();
}

INode* StandinHost::FindNode(const std::string& name) {
    // Pre-order, children in index order: the order the exporter walks in.
    std::vector<INode*> pending;
    INode* root = impl_->root;
    for (int i = root->NumberOfChildren() - 1; i >= 0; --i) pending.push_back(root->GetChildNode(i));
    while (!pending.empty()) {
        INode* node = pending.back();
        pending.pop_back();
        if (name == node->GetName()) return node;
        for (int i = node->NumberOfChildren() - 1; i >= 0; --i) pending.push_back(node->GetChildNode(i));
    }
    return nullptr;
}

}  // namespace quorvex::standin
