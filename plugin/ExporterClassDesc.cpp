#include "plugin/ExporterClassDesc.h"

#include "plugin/Exporter.h"

namespace quorvex {

ExporterClassDesc exporterClassDesc;

int ExporterClassDesc::IsPublic() { return 1; }

void* ExporterClassDesc::Create(BOOL loading) {
    (void)loading;
    // The host casts the result to SceneExport*, so hand out that base pointer.
    return NewModelExporter();
}

const char* ExporterClassDesc::ClassName() { return kExporterClassName; }

SClass_ID ExporterClassDesc::SuperClassID() { return SCENE_EXPORT_CLASS_ID; }

Class_ID ExporterClassDesc::ClassID() { return kExporterClassID; }

const char* ExporterClassDesc::Category() { return kExporterCategory; }

}  // namespace quorvex
