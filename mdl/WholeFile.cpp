#include "mdl/WholeFile.h"

#include <cerrno>
#include <cstdio>
#include <new>

namespace quorvex {

FileReadResult ReadWholeFile(const char* path, std::string& bytes, bool (*goOn)(const std::string& soFar)) {
    bytes.clear();
    errno = 0;
    std::FILE* file = path != nullptr ? std::fopen(path, "rb") : nullptr;
    if (file == nullptr) return {FileReadStatus::CannotOpen, errno};
    FileReadResult result;
    try {
        char chunk[1 << 16];
        for (;;) {
            const size_t got = std::fread(chunk, 1, sizeof chunk, file);
            bytes.append(chunk, got);
            if (got < sizeof chunk) {
                if (std::ferror(file)) result = {FileReadStatus::CannotRead, errno};
                break;
            }
            if (goOn && !goOn(bytes)) break;
        }
    } catch (const std::bad_alloc&) {
        std::string().swap(bytes);
        result = {FileReadStatus::NoMemory, ENOMEM};
    }
    std::fclose(file);
    return result;
}

}  // namespace quorvex
