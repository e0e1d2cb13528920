#include "model/ModelData.h"

#include <charconv>
#include <cstdlib>
#include <cstring>

#include "model/Allocation.h"

namespace quorvex {

namespace {

// A zero-filled array of `count` elements. An empty array is null and counts as
// success, so that calloc's choice for a zero size never looks like a failure.
template <typename T>
bool AllocateZeroed(int64_t count, T** out) {
    *out = nullptr;
    if (count <= 0) return true;
    *out = static_cast<T*>(GatedCalloc(static_cast<size_t>(count), sizeof(T)));
    return *out != nullptr;
}

// a * b * unit <= limit for non-negative a and b, without overflowing.
bool ProductFits(int64_t a, int64_t b, uint64_t unit, uint64_t limit) {
    if (a < 0 || b < 0) return false;
    if (a == 0 || b == 0) return true;
    uint64_t ua = static_cast<uint64_t>(a);
    uint64_t ub = static_cast<uint64_t>(b);
    if (ub > limit / unit) return false;
    return ua <= limit / (ub * unit);
}

void SetDefaultFrameName(char (&name)[16], int32_t index) {
    std::memcpy(name, "Frame", 5);
    // "Frame" plus at most ten digits leaves room for the terminator.
    std::to_chars_result r = std::to_chars(name + 5, name + 15, index);
    *r.ptr = '\0';
}

}  // namespace

bool ModelFitsLimits(int64_t triangleCount, int64_t vertexCount, int64_t texCoordCount, int64_t frameCount) {
    if (triangleCount < 0 || vertexCount < 0 || texCoordCount < 0 || frameCount < 0) return false;
    if (frameCount > INT32_MAX) return false;
    return ProductFits(frameCount, vertexCount, kModelBytesPerVertexFrame, kModelFrameBytesLimit);
}

bool SkinFitsLimits(int64_t width, int64_t height) {
    return ProductFits(width, height, sizeof(uint16_t), kSkinBytesLimit);
}

ModelData* CreateModel(int32_t triangleCount, int32_t vertexCount, int32_t texCoordCount, int32_t frameCount) {
    if (!ModelFitsLimits(triangleCount, vertexCount, texCoordCount, frameCount)) return nullptr;

    ModelData* model = nullptr;
    if (!AllocateZeroed(1, &model)) return nullptr;
    std::memcpy(model->tag, "3db", 4);
    model->triangleCount = triangleCount;
    model->vertexCount = vertexCount;
    model->texCoordCount = texCoordCount;
    model->frameCount = frameCount;

    bool ok = AllocateZeroed(texCoordCount, &model->texCoords) && AllocateZeroed(triangleCount, &model->triangles) &&
              AllocateZeroed(frameCount, &model->frames) && AllocateZeroed(vertexCount, &model->normals) &&
              AllocateZeroed(vertexCount, &model->cornerCounts);
    // The frames' arrays in one block: one allocation to back at once rather
    // than two per frame. Within the limits above it stays below 2^32 * 13 / 24
    // bytes and the spare ones, which only a 32-bit build could fail to count.
    const uint64_t vertexFrames = uint64_t(vertexCount) * uint64_t(frameCount);
    const uint64_t blockBytes = vertexFrames * (sizeof(ModelVec3) + 1) + kFrameBlockSpare;
    if (ok && vertexFrames > 0) {
        model->frameBlock = blockBytes <= SIZE_MAX ? GatedLargeZeroed(size_t(blockBytes)) : nullptr;
        model->frameBlockBytes = size_t(blockBytes);
        ok = model->frameBlock != nullptr;
    }
    if (!ok) {
        DestroyModel(model);
        return nullptr;
    }
    auto* positions = static_cast<ModelVec3*>(model->frameBlock);
    uint8_t* indices = reinterpret_cast<uint8_t*>(positions + vertexFrames);
    if (vertexFrames > 0) std::memset(indices, kZeroNormalIndex, size_t(vertexFrames));
    for (int32_t i = 0; i < frameCount; ++i) {
        ModelFrame& frame = model->frames[i];
        if (vertexFrames > 0) {
            frame.positions = positions + size_t(i) * size_t(vertexCount);
            frame.normalIndex = indices + size_t(i) * size_t(vertexCount);
        }
        SetDefaultFrameName(frame.name, i);
    }
    return model;
}

void DestroyModel(ModelData* model) {
    if (!model) return;
    FreeLargeZeroed(model->frameBlock, model->frameBlockBytes);
    std::free(model->texCoords);
    std::free(model->triangles);
    std::free(model->frames);
    std::free(model->normals);
    std::free(model->cornerCounts);
    std::free(model);
}

SkinImage* CreateSkinImage(int32_t width, int32_t height, int16_t format) {
    if (!SkinFitsLimits(width, height)) return nullptr;

    SkinImage* skin = nullptr;
    if (!AllocateZeroed(1, &skin)) return nullptr;
    skin->format = format;
    skin->width = width;
    skin->height = height;

    int64_t count = int64_t(width) * height;
    if (!AllocateZeroed(count, &skin->pixels)) {
        std::free(skin);
        return nullptr;
    }
    for (int64_t i = 0; i < count; ++i) skin->pixels[i] = kSkinFillValue;
    return skin;
}

void FreeSkinImage(SkinImage* skin) {
    if (!skin) return;
    std::free(skin->pixels);
    std::free(skin);
}

}  // namespace quorvex
