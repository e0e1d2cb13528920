// The host-service interface: every operation of the modelling host that the
// exporter calls. The exporter's own code (export/, model/, skin/, mdl/, ui/)
// includes nothing else of the host. Inside the modelling host an adapter
// built with the host's SDK implements them around the host's own objects
// (docs/host-adapter.md); here the stand-in host (standin/) does.
//
// Conventions: everything the host hands out (nodes, objects, materials, maps,
// note tracks) belongs to the host unless a contract below says the caller owns
// it. Owned objects are released with their DeleteThis().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/Win32Api.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

// Host time in ticks.
using TimeValue = int32_t;

struct Point3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

// Four rows of three: rows 0..2 are the x, y and z axes, row 3 the translation.
// Points are row vectors: p' = p * M.
struct Matrix3 {
    Point3 row[4] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}};
};

// The host's point transform: x' = ((x*M00 + y*M10) + z*M20) + M30, likewise
// for y and z, single precision, in exactly this order. Inline: the export
// transforms every vertex of every frame with it.
inline Point3 operator*(const Point3& p, const Matrix3& m) {
    const Point3* r = m.row;
#if defined(__SSE2__) || defined(_M_X64)
    // The three sums side by side, each lane in the order above.
    auto row = [](const Point3& q) { return _mm_setr_ps(q.x, q.y, q.z, 0.0f); };
    const __m128 sum = _mm_add_ps(
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(p.x), row(r[0])), _mm_mul_ps(_mm_set1_ps(p.y), row(r[1]))),
                   _mm_mul_ps(_mm_set1_ps(p.z), row(r[2]))),
        row(r[3]));
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, sum);
    return Point3{lanes[0], lanes[1], lanes[2]};
#else
    return Point3{((p.x * r[0].x + p.y * r[1].x) + p.z * r[2].x) + r[3].x,
                  ((p.x * r[0].y + p.y * r[1].y) + p.z * r[2].y) + r[3].y,
                  ((p.x * r[0].z + p.y * r[1].z) + p.z * r[2].z) + r[3].z};
#endif
}
// The host's matrix product C = A * B in the host's pinned order (see .cpp).
Matrix3 operator*(const Matrix3& a, const Matrix3& b);

struct Interval {
    TimeValue start = 0;
    TimeValue end = 0;
};

// The class-id pair: two unsigned 32-bit words, compared as a pair.
struct Class_ID {
    uint32_t a = 0;
    uint32_t b = 0;
    uint32_t PartA() const { return a; }
    uint32_t PartB() const { return b; }
    friend bool operator==(const Class_ID&, const Class_ID&) = default;
};

using SClass_ID = uint32_t;

constexpr SClass_ID GEOMOBJECT_CLASS_ID = 0x10;
constexpr SClass_ID CAMERA_CLASS_ID = 0x20;
constexpr SClass_ID LIGHT_CLASS_ID = 0x30;
constexpr SClass_ID HELPER_CLASS_ID = 0x50;
constexpr SClass_ID SCENE_EXPORT_CLASS_ID = 0xA20;

constexpr Class_ID TRIOBJ_CLASS_ID{9, 0};
constexpr Class_ID TARGET_CLASS_ID{0x1020, 0};
constexpr Class_ID STANDARD_MTL_CLASS_ID{2, 0};
constexpr Class_ID BITMAP_TEX_CLASS_ID{0x240, 0};

// A host string.
class CStr {
public:
    CStr() = default;
    CStr(const char* s) : text_(s ? s : "") {}
    const char* data() const { return text_.c_str(); }
    size_t Length() const { return text_.size(); }

private:
    std::string text_;
};

// ---------------------------------------------------------------- objects

class Object {
public:
    virtual SClass_ID SuperClassID() = 0;
    virtual Class_ID ClassID() = 0;
    // Non-zero when the object can become an object of class `cid`.
    virtual int CanConvertToType(Class_ID cid) = 0;
    // The object converted at time t: either this very object (host-owned) or
    // a new object that the caller owns and releases with DeleteThis(). May
    // return null.
    virtual Object* ConvertToType(TimeValue t, Class_ID cid) = 0;
    // Releases an object the caller owns. Never call it on a host-owned object.
    virtual void DeleteThis() = 0;

protected:
    virtual ~Object() = default;
};

struct Face {
    uint32_t v[3] = {0, 0, 0};
    uint32_t smGroup = 0;
    uint32_t flags = 0;
};

struct TVFace {
    uint32_t t[3] = {0, 0, 0};
};

// A triangle mesh as the host holds it. The arrays belong to the object that
// holds the mesh and stay valid while that object lives. tvFace has numFaces
// entries whenever numTVerts is not 0 (and may be null otherwise).
struct Mesh {
    int numVerts = 0;
    int numFaces = 0;
    int numTVerts = 0;
    const Point3* verts = nullptr;
    const Face* faces = nullptr;
    const Point3* tVerts = nullptr;  // u, v used; the third value is carried only
    const TVFace* tvFace = nullptr;

    int getNumVerts() const { return numVerts; }
    int getNumFaces() const { return numFaces; }
    int getNumTVerts() const { return numTVerts; }
};

// An object of class TRIOBJ_CLASS_ID.
class TriObject : public Object {
public:
    virtual const Mesh& GetMesh() = 0;
};

// The result of evaluating a node: obj may be null. The state does not own obj.
struct ObjectState {
    Object* obj = nullptr;
};

// ---------------------------------------------------------------- materials

class Texmap {
public:
    virtual Class_ID ClassID() = 0;

protected:
    virtual ~Texmap() = default;
};

// A texture map of class BITMAP_TEX_CLASS_ID.
class BitmapTex : public Texmap {
public:
    // The picture's file name, NUL-terminated; never null (may be empty).
    virtual const char* GetMapName() = 0;
};

class Mtl {
public:
    virtual Class_ID ClassID() = 0;
    // Sub-map i; for a standard material sub-map 1 is the diffuse map. Null
    // when absent.
    virtual Texmap* GetSubTexmap(int i) = 0;

protected:
    virtual ~Mtl() = default;
};

// ---------------------------------------------------------------- bitmaps

struct BMM_Color_64 {
    uint16_t r = 0;
    uint16_t g = 0;
    uint16_t b = 0;
    uint16_t a = 0;
};

// Describes which picture to load. A plain value the caller keeps on its stack.
class BitmapInfo {
public:
    void SetName(const char* name) { name_ = name ? name : ""; }
    const char* Name() const { return name_.c_str(); }

private:
    std::string name_;
};

class Bitmap {
public:
    virtual uint16_t Width() = 0;
    virtual uint16_t Height() = 0;
    // Reads `count` pixels of row y from column x on into `out`. Returns 1 when
    // they were read, 0 when (x, y, count) does not lie inside the picture.
    virtual int GetPixels(int x, int y, int count, BMM_Color_64* out) = 0;
    // Releases a picture that Load gave the caller.
    virtual void DeleteThis() = 0;

protected:
    virtual ~Bitmap() = default;
};

class BitmapManager {
public:
    // Loads the picture that `info` names. The caller owns the result and
    // releases it with DeleteThis(). Null when there is no such picture.
    // `status` (may be null) receives a host status word.
    virtual Bitmap* Load(BitmapInfo* info, uint16_t* status) = 0;

protected:
    virtual ~BitmapManager() = default;
};

// ---------------------------------------------------------------- note tracks

class TrackClipObject {
public:
    // Releases a clip that CopyTrack gave the caller.
    virtual void DeleteThis() = 0;

protected:
    virtual ~TrackClipObject() = default;
};

class NoteTrack {
public:
    virtual int NumKeys() = 0;
    virtual TimeValue GetKeyTime(int i) = 0;
    // A clip of the track's keys; the caller owns it. May return null.
    virtual TrackClipObject* CopyTrack(Interval iv, int flags) = 0;

protected:
    virtual ~NoteTrack() = default;
};

struct NoteKey {
    TimeValue time = 0;
    CStr note;
};

using NoteKeyTab = std::vector<NoteKey>;

// A note track that the exporter creates for its own use (NewDefaultNoteTrack)
// and releases with DeleteThis(), which deletes its keys as well.
class DefNoteTrack : public NoteTrack {
public:
    NoteKeyTab keys;

    int NumKeys() override { return static_cast<int>(keys.size()); }
    TimeValue GetKeyTime(int i) override { return keys[static_cast<size_t>(i)].time; }
    // Appends the keys of `clip`. Returns 1 on success.
    virtual int PasteTrack(TrackClipObject* clip, Interval iv, int flags) = 0;
    virtual void DeleteThis() = 0;
};

// ---------------------------------------------------------------- nodes

class INode {
public:
    virtual int NumberOfChildren() = 0;
    // Child i, 0 <= i < NumberOfChildren(); null otherwise.
    virtual INode* GetChildNode(int i) = 0;
    // NUL-terminated; never null.
    virtual const char* GetName() = 0;
    virtual int IsHidden(int flags, bool forRenderer) = 0;
    virtual ObjectState EvalWorldState(TimeValue t, bool evalHidden) = 0;
    // Object-to-world transform at t. `valid` may be null.
    virtual Matrix3 GetObjTMAfterWSM(TimeValue t, Interval* valid) = 0;
    virtual Mtl* GetMtl() = 0;
    virtual int NumNoteTracks() = 0;
    virtual NoteTrack* GetNoteTrack(int i) = 0;

protected:
    virtual ~INode() = default;
};

// ---------------------------------------------------------------- interface

using ProgressRoutine = unsigned long (*)(void* arg);

class Interface {
public:
    virtual HWND GetMAXHWnd() = 0;
    virtual INode* GetRootNode() = 0;
    virtual Interval GetAnimRange() = 0;
    virtual int ProgressStart(const char* caption, bool canCancel, ProgressRoutine fn, void* arg) = 0;
    // caption may be null (keep the current one).
    virtual void ProgressUpdate(int percent, bool showPercent, const char* caption) = 0;
    virtual void ProgressEnd() = 0;

protected:
    virtual ~Interface() = default;
};

// The options of an export call; not used by this exporter.
class ExpInterface {
protected:
    virtual ~ExpInterface() = default;
};

// ---------------------------------------------------------------- plug-in interfaces

// The host's scene-export interface, slot order as the host expects it.
class SceneExport {
public:
    virtual ~SceneExport() = default;
    virtual int ExtCount() = 0;
    virtual const char* Ext(int n) = 0;
    virtual const char* LongDesc() = 0;
    virtual const char* ShortDesc() = 0;
    virtual const char* AuthorName() = 0;
    virtual const char* CopyrightMessage() = 0;
    virtual const char* OtherMessage1() = 0;
    virtual const char* OtherMessage2() = 0;
    virtual unsigned int Version() = 0;
    virtual void ShowAbout(HWND hWnd) = 0;
    virtual int DoExport(const char* name, ExpInterface* ei, Interface* i, BOOL suppressPrompts, DWORD options) = 0;
    virtual BOOL SupportsOptions(int ext, DWORD options) {
        (void)ext;
        (void)options;
        return FALSE;
    }
};

// The host's class-descriptor interface, slot order as the host expects it.
class ClassDesc {
public:
    virtual ~ClassDesc() = default;
    virtual int IsPublic() = 0;
    virtual void* Create(BOOL loading) = 0;
    virtual int BeginCreate(Interface* i) {
        (void)i;
        return 0;
    }
    virtual int EndCreate(Interface* i) {
        (void)i;
        return 0;
    }
    virtual const char* ClassName() = 0;
    virtual SClass_ID SuperClassID() = 0;
    virtual Class_ID ClassID() = 0;
    virtual const char* Category() = 0;
    virtual const char* InternalName() { return nullptr; }
    virtual HINSTANCE HInstance() { return nullptr; }
};

// ---------------------------------------------------------------- globals

// Host functions that are free functions in the host. Each dispatches to the
// process-wide host installed with SetHostGlobals (the stand-in host, or a test
// double); with none installed they return 0 / null and do nothing.
int GetTicksPerFrame();
void InitCustomControls(HINSTANCE instance);
void CenterWindow(HWND window, HWND parent);
BitmapManager* TheManager();
// A new, empty note track that the caller owns (DeleteThis). May return null.
DefNoteTrack* NewDefaultNoteTrack();

class HostGlobals {
public:
    virtual int GetTicksPerFrame() = 0;
    virtual void InitCustomControls(HINSTANCE instance) = 0;
    virtual void CenterWindow(HWND window, HWND parent) = 0;
    virtual BitmapManager* Manager() = 0;
    virtual DefNoteTrack* NewDefaultNoteTrack() = 0;

protected:
    virtual ~HostGlobals() = default;
};

// Installs the process-wide host (not owned; null uninstalls). Returns the
// previous one, so a test can restore it.
HostGlobals* SetHostGlobals(HostGlobals* host);
HostGlobals* GetHostGlobals();
