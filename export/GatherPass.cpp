#include <cstdint>
#include <cstdio>
#include <new>

#include "export/ExportState.h"
#include "export/ScenePasses.h"
#include "export/SceneWalk.h"
#include "model/Numeric.h"
#include "skin/TextureTable.h"

namespace quorvex {

namespace {

struct TextureChoice {
    int slot;       // texture table slot, -1 for none
    int64_t width;  // the size texture coordinates are scaled by
    int64_t height;
};

// The mesh's picture: registered in the texture table by file name and the size
// it loads with now; coordinates are scaled by the size the slot holds, which
// is that of the name's first registration in this export.
TextureChoice ChooseTexture(TextureTable& table, Mtl* material) {
    TextureChoice none{-1, 1, 1};
    if (material->ClassID() != STANDARD_MTL_CLASS_ID) return none;
    Texmap* map = material->GetSubTexmap(1);
    if (!map || map->ClassID() != BITMAP_TEX_CLASS_ID) return none;
    auto* bitmapMap = dynamic_cast<BitmapTex*>(map);
    if (!bitmapMap) return none;

    CStr fileName(bitmapMap->GetMapName());
    // An empty name names no picture; registering it would only ever match a
    // free slot, so the mesh gets no texture, like a map that is not a bitmap.
    if (fileName.Length() == 0) return none;

    BitmapInfo info;
    info.SetName(fileName.data());
    int32_t width = 0;
    int32_t height = 0;
    if (BitmapManager* manager = TheManager()) {
        uint16_t status = 0;
        if (Bitmap* picture = manager->Load(&info, &status)) {
            width = picture->Width();
            height = picture->Height();
            // Only the size is needed here; painting loads the picture again.
            picture->DeleteThis();
        }
    }

    int slot = FindOrAddTexture(table, fileName.data(), width, height);
    if (slot < 0) return none;
    return {slot, table.slots[slot].width, table.slots[slot].height};
}

// Pixel column of u, and pixel row of v counted from the picture's top, in
// the arithmetic every build shares: the product in double precision, the
// truncation through 64 bits, the subtraction wrapping in 64 bits.
int16_t PixelColumn(int64_t width, float tu) {
    return Low16Signed(TruncateToInt64(static_cast<double>(width - 1) * static_cast<double>(tu)));
}

int16_t PixelRow(int64_t height, float tv) {
    uint64_t t = static_cast<uint64_t>(TruncateToInt64(static_cast<double>(height - 1) * static_cast<double>(tv)));
    uint64_t v = static_cast<uint64_t>(height) - t - 1u;
    return Low16Signed(static_cast<int64_t>(v));
}

bool FitsRoom(int32_t base, int count, int32_t room) {
    return count >= 0 && static_cast<int64_t>(base) + count <= room;
}

// True when every face names vertices and texture vertices the mesh has, so
// that the triangles never index past the model's arrays. (The scan walk let
// only meshes with texture vertices through, so faces always have texture
// faces here unless the scene changed.)
bool FacesInRange(const Mesh& mesh) {
    int faces = mesh.getNumFaces();
    if (faces == 0) return true;
    if (!mesh.faces || !mesh.tvFace || mesh.getNumTVerts() <= 0) return false;
    auto verts = static_cast<uint32_t>(mesh.getNumVerts());
    auto tverts = static_cast<uint32_t>(mesh.getNumTVerts());
    for (int i = 0; i < faces; ++i) {
        for (int k = 0; k < 3; ++k) {
            if (mesh.faces[i].v[k] >= verts || mesh.tvFace[i].t[k] >= tverts) return false;
        }
    }
    return true;
}

void Refuse(ExportState& state, INode* node, const char* reason) {
    char text[sizeof(state.errorText)];
    std::snprintf(text, sizeof(text), "%s%s", node->GetName(), reason);
    RefuseOnce(state, text);
}

}  // namespace

bool GatherNode(ExportState& state, INode* node) {
    TriangleMeshHandle handle = MeshNodePreamble(state, node, Gather);
    if (!handle.object) return false;
    Mtl* material = node->GetMtl();
    ModelData* model = state.model.get();
    if (!material || !model) {
        ReleaseTriangleMesh(handle);
        return false;
    }
    const Mesh& mesh = handle.object->GetMesh();
    const int vertexCount = mesh.getNumVerts();
    const int faceCount = mesh.getNumFaces();
    const int texVertCount = mesh.getNumTVerts();

    // The model was sized by the scan walk; a scene that changed since then
    // must not make this walk write past it.
    if (!FitsRoom(state.vertexBase, vertexCount, model->vertexCount) ||
        !FitsRoom(state.triangleBase, faceCount, model->triangleCount) ||
        !FitsRoom(state.texCoordBase, texVertCount, model->texCoordCount)) {
        Refuse(state, node, ": Mesh changed after scanning");
        ReleaseTriangleMesh(handle);
        return false;
    }
    if ((texVertCount > 0 && !mesh.tVerts) || !FacesInRange(mesh)) {
        Refuse(state, node, ": Face uses a missing vertex");
        ReleaseTriangleMesh(handle);
        return false;
    }

    TextureChoice texture = ChooseTexture(state.textures, material);

    for (int i = 0; i < texVertCount; ++i) {
        ModelTexCoord& tc = model->texCoords[state.texCoordBase + i];
        tc.u = PixelColumn(texture.width, mesh.tVerts[i].x);
        tc.v = PixelRow(texture.height, mesh.tVerts[i].y);
    }

    // Corners 1 and 2 swap: the file winds its triangles the other way round.
    for (int i = 0; i < faceCount; ++i) {
        const Face& face = mesh.faces[i];
        const TVFace& texFace = mesh.tvFace[i];
        ModelTriangle& tri = model->triangles[state.triangleBase + i];
        static const int corner[3] = {0, 2, 1};
        for (int k = 0; k < 3; ++k) {
            tri.vertex[k] = Low16(static_cast<int64_t>(face.v[corner[k]]) + state.vertexBase);
            tri.texCoord[k] = Low16(static_cast<int64_t>(texFace.t[corner[k]]) + state.texCoordBase);
        }
        tri.textureSlot = static_cast<int16_t>(texture.slot);
    }

    try {
        state.gatheredMeshes.push_back(GatheredMesh{node, vertexCount});
    } catch (const std::bad_alloc&) {
        RefuseOnce(state, kNoMemoryText);
    }

    state.vertexBase += vertexCount;
    state.texCoordBase += texVertCount;
    state.triangleBase += faceCount;
    ReleaseTriangleMesh(handle);
    return true;
}

}  // namespace quorvex
