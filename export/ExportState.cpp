#include "export/ExportState.h"

#include <cstring>

namespace quorvex {

ExportState exportState = {};

ExportOptionsRecord& RememberedExportOptions() { return exportState.options; }

int32_t& RememberedThreadCount() { return exportState.threadCount; }

int LastExportWriteError() { return exportState.writeError; }

void SetErrorText(ExportState& state, const char* text) {
    size_t n = text ? std::strlen(text) : 0;
    if (n > sizeof(state.errorText) - 1) n = sizeof(state.errorText) - 1;
    if (n) std::memcpy(state.errorText, text, n);
    state.errorText[n] = '\0';
}

void RefuseOnce(ExportState& state, const char* text) {
    if (state.errorFlag) return;
    state.errorFlag = 1;
    SetErrorText(state, text);
}

}  // namespace quorvex
