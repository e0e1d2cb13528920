#include "export/ExportState.h"

#include <cstring>

ExportOptionsRecord ExportOptions = {};
int showPrompts = 0;
int64_t frameCount = 0;
int64_t currentFrame = 0;
int errorFlag = 0;
char ErrorText[256] = {};
ModelData* currentModel = nullptr;
SkinImage* currentSkin = nullptr;

void SetErrorText(const char* text) {
    size_t n = text ? std::strlen(text) : 0;
    if (n > sizeof(ErrorText) - 1) n = sizeof(ErrorText) - 1;
    if (n) std::memcpy(ErrorText, text, n);
    ErrorText[n] = '\0';
}

void RefuseOnce(const char* text) {
    if (errorFlag) return;
    errorFlag = 1;
    SetErrorText(text);
}
