// The one class descriptor of the library: how the host learns the exporter's
// class and creates exporter objects.
#pragma once

#include "plugin/HostServices.h"

namespace quorvex {

class ExporterClassDesc : public ClassDesc {
public:
    // 1: the exporter is listed in the host's export command.
    int IsPublic() override;
    // A new ModelExporter, returned as its SceneExport base. The caller owns it
    // and destroys it through the virtual destructor. `loading` is ignored.
    // Null when memory is exhausted.
    void* Create(BOOL loading) override;
    // "Quorvex"; static, never null.
    const char* ClassName() override;
    // SCENE_EXPORT_CLASS_ID.
    SClass_ID SuperClassID() override;
    // (0x4018116b, 0x452e5edd).
    Class_ID ClassID() override;
    // "Quorvex"; static, never null.
    const char* Category() override;
};

// The library's single descriptor; it holds no data and lives as long as the
// library. LibClassDesc(0) hands out its address.
extern ExporterClassDesc exporterClassDesc;

}  // namespace quorvex
