// Reading a whole file into memory: the one way every loader reads its input
// (model files, scene files, pictures, imported files), with what each needs
// of it as options.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace quorvex {

enum class FileReadStatus {
    Ok,
    CannotOpen,  // the file cannot be opened for reading
    CannotRead,  // a read failed part way; the bytes read so far are kept
    NoMemory,    // the bytes do not fit in memory; nothing is kept
    NotRegular,  // options.regularOnly and the file is a device, a pipe or a folder
    TooLarge,    // more than options.limit bytes; nothing is kept
};

struct FileReadResult {
    FileReadStatus status = FileReadStatus::Ok;
    int error = 0;      // the errno of the failure; 0 on success
    uint64_t size = 0;  // the content's bytes (padding not counted); TooLarge: the file's size
};

struct WholeFileOptions {
    // Files longer than this are refused (TooLarge) before their bytes are
    // read when their size is known, as soon as they pass it otherwise.
    uint64_t limit = std::numeric_limits<uint64_t>::max();
    // Refuse what is not a regular file (NotRegular): a device or a pipe may
    // never end, and opening it does not wait for a writer.
    bool regularOnly = false;
    // Zero bytes added after the content, for parsers that read ahead of it.
    size_t padding = 0;
    // Asked after every chunk read from a file whose size is not known in
    // advance (a pipe, a device) whether the bytes so far are worth reading on
    // for; false ends the read there with status Ok (a device that never ends
    // then costs one chunk).
    bool (*goOn)(const char* soFar, size_t size) = nullptr;
};

// Replaces `bytes` with the content of the file at `path` (null fails to
// open), then options.padding zero bytes. A regular file is read up to the
// size it had when opened. Never throws.
FileReadResult ReadWholeFile(const char* path, std::string& bytes, const WholeFileOptions& options = {});
FileReadResult ReadWholeFile(const char* path, std::vector<unsigned char>& bytes, const WholeFileOptions& options = {});

}  // namespace quorvex
