#include "scene/InputFile.h"

#include <cstring>

#include "mdl/WholeFile.h"

namespace quorvex::scene {

namespace {

template <class Bytes>
bool ReadInto(const std::string& path, Bytes& out, LoadError& error, uint64_t limit, size_t padding) {
    quorvex::WholeFileOptions options;
    options.limit = limit;
    options.regularOnly = true;
    options.padding = padding;
    const quorvex::FileReadResult read = quorvex::ReadWholeFile(path.c_str(), out, options);
    switch (read.status) {
        case quorvex::FileReadStatus::Ok: return true;
        case quorvex::FileReadStatus::CannotOpen:
        case quorvex::FileReadStatus::CannotRead:
            error = {LoadErrorKind::Unreadable, std::string("cannot read the file: ") + std::strerror(read.error)};
            break;
        case quorvex::FileReadStatus::NotRegular:
            error = {LoadErrorKind::Unreadable, "cannot read the file: not a regular file"};
            break;
        case quorvex::FileReadStatus::TooLarge:
            error = {LoadErrorKind::OverLimit, "cannot read the file: it holds " + std::to_string(read.size) +
                                                   " bytes, more than the limit of " + std::to_string(limit)};
            break;
        case quorvex::FileReadStatus::NoMemory:
            error = {LoadErrorKind::NotEnoughMemory, "Not enough memory to read the file"};
            break;
    }
    Bytes().swap(out);
    return false;
}

}  // namespace

bool ReadInputFile(const std::string& path, std::vector<unsigned char>& out, LoadError& error, uint64_t limit) {
    return ReadInto(path, out, error, limit, 0);
}

bool ReadInputFile(const std::string& path, std::string& out, LoadError& error, uint64_t limit, size_t padding) {
    return ReadInto(path, out, error, limit, padding);
}

}  // namespace quorvex::scene
