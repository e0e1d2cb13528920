#include "plugin/ExporterClassDesc.h"

#include <new>

#include "export/ModelExporter.h"

ExporterClassDesc exporterClassDesc;

int ExporterClassDesc::IsPublic() { return 1; }

void* ExporterClassDesc::Create(BOOL loading) {
    (void)loading;
    // The host casts the result to SceneExport*, so hand out that base pointer.
    // Value-initialised: the per-export fields start at zero rather than
    // indeterminate, although DoExport sets each before use.
    SceneExport* exporter = new (std::nothrow) ModelExporter();
    return exporter;
}

const char* ExporterClassDesc::ClassName() { return "Quorvex"; }

SClass_ID ExporterClassDesc::SuperClassID() { return SCENE_EXPORT_CLASS_ID; }

Class_ID ExporterClassDesc::ClassID() { return Class_ID{0x4018116b, 0x452e5edd}; }

const char* ExporterClassDesc::Category() { return "Quorvex"; }
