// Reading a whole file into memory: one way for every loader (model files,
// scene files, pictures).
#pragma once

#include <string>

namespace quorvex {

enum class FileReadStatus {
    Ok,
    CannotOpen,  // the file cannot be opened for reading
    CannotRead,  // a read failed part way; the bytes read so far are kept
    NoMemory,    // the bytes do not fit in memory; nothing is kept
};

struct FileReadResult {
    FileReadStatus status = FileReadStatus::Ok;
    int error = 0;  // the errno of the failure; 0 on success
};

// Replaces `bytes` with the content of the file at `path` (null fails to
// open). Reads in chunks rather than trusting a size query, so memory follows
// what the file really holds and pipes work too. When `goOn` is given it is
// asked after every full chunk whether the bytes so far are worth reading on
// for; false ends the read there with status Ok (a device that never ends
// then costs one chunk). Never throws.
FileReadResult ReadWholeFile(const char* path, std::string& bytes, bool (*goOn)(const std::string& soFar) = nullptr);

}  // namespace quorvex
