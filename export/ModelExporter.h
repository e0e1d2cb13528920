// The exporter object the host creates through the class descriptor, with the
// state of one export.
#pragma once

#include <cstdint>
#include <vector>

#include "plugin/HostServices.h"

// A mesh the gather walk met, in walk order; every sample walk must meet the
// same meshes with the same vertex counts.
struct GatheredMesh {
    INode* node;  // host-owned
    int32_t vertexCount;
};

class ModelExporter : public SceneExport {
public:
    ModelExporter() = default;
    ~ModelExporter() override = default;

    int ExtCount() override;
    const char* Ext(int n) override;
    const char* LongDesc() override;
    const char* ShortDesc() override;
    const char* AuthorName() override;
    const char* CopyrightMessage() override;
    const char* OtherMessage1() override;
    const char* OtherMessage2() override;
    unsigned int Version() override;
    void ShowAbout(HWND hWnd) override;
    // The export. Returns 1 when the file was written or the user cancelled, 0
    // when the export was refused or failed (after a message box said why),
    // also when `i` is null or no host services are installed (SetHostGlobals).
    int DoExport(const char* name, ExpInterface* ei, Interface* i, BOOL suppressPrompts, DWORD options) override;

    // Paints every used texture slot's picture into currentSkin, rows
    // skinWidth long. alpha 1 selects ARGB4444, 0 RGB565. Returns 1.
    int PaintTextures(int alpha);

    // Per-export state; DoExport sets each field before use.
    TimeValue evalTime;
    Interface* hostInterface;  // not owned
    int32_t triangleTotal;
    int32_t vertexTotal;
    int32_t texCoordTotal;
    int32_t texCoordBase;
    int32_t vertexBase;
    int32_t triangleBase;
    int32_t skinWidth;
    int32_t skinHeight;
    // Meshes in gather order, and how far the current sample walk has got.
    std::vector<GatheredMesh> gatheredMeshes;
    size_t sampleCursor;
};
