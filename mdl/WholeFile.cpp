#include "mdl/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

// Not every platform has these; where one is missing, plain opening does.
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0  // only matters for a pipe, which regularOnly refuses anyway
#endif
#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace quorvex {

namespace {

constexpr size_t kChunk = size_t{1} << 16;

// Reads up to `n` bytes at `at` (at most 1 GiB: some systems count in 32
// bits), through interruptions; the count, 0 at the end, -1 on failure.
long ReadSome(int fd, void* at, size_t n) {
    const unsigned most = n < (size_t{1} << 30) ? static_cast<unsigned>(n) : 1u << 30;
    for (;;) {
        const auto got = ::read(fd, at, most);
        if (got < 0 && errno == EINTR) continue;
        return static_cast<long>(got);
    }
}

template <class Bytes>
FileReadResult ReadBody(int fd, const struct stat& info, Bytes& bytes, const WholeFileOptions& options) {
    const bool sized = S_ISREG(info.st_mode);
    if (sized) bytes.reserve(static_cast<size_t>(info.st_size) + options.padding);
    size_t have = 0;
    for (;;) {
        // A regular file is read up to its size when opened, in one request
        // where the system allows; anything else chunk by chunk.
        const size_t want = sized ? static_cast<size_t>(info.st_size) - have : kChunk;
        if (sized && want == 0) break;
        bytes.resize(have + want);
        const long got = ReadSome(fd, bytes.data() + have, want);
        if (got < 0) {
            const int error = errno;
            bytes.resize(have);
            return {FileReadStatus::CannotRead, error, have};
        }
        have += static_cast<size_t>(got);
        bytes.resize(have);
        if (got == 0) break;  // the end (a regular file may have shrunk meanwhile)
        if (have > options.limit) {
            Bytes().swap(bytes);
            return {FileReadStatus::TooLarge, 0, have};
        }
        if (!sized && options.goOn && !options.goOn(reinterpret_cast<const char*>(bytes.data()), have)) break;
    }
    bytes.resize(have + options.padding);
    return {FileReadStatus::Ok, 0, have};
}

template <class Bytes>
FileReadResult ReadInto(const char* path, Bytes& bytes, const WholeFileOptions& options) {
    bytes.clear();
    errno = 0;
    const int flags = O_RDONLY | O_CLOEXEC | O_BINARY | (options.regularOnly ? O_NONBLOCK : 0);
    const int fd = path != nullptr ? ::open(path, flags) : -1;
    if (fd < 0) return {FileReadStatus::CannotOpen, errno, 0};
    FileReadResult result;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        result = {FileReadStatus::CannotRead, errno, 0};
    } else if (options.regularOnly && !S_ISREG(info.st_mode)) {
        result = {FileReadStatus::NotRegular, 0, 0};
    } else if (S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) > options.limit) {
        result = {FileReadStatus::TooLarge, 0, static_cast<uint64_t>(info.st_size)};
    } else {
        try {
            result = ReadBody(fd, info, bytes, options);
        } catch (const std::bad_alloc&) {
            Bytes().swap(bytes);
            result = {FileReadStatus::NoMemory, ENOMEM, 0};
        }
    }
    ::close(fd);
    return result;
}

}  // namespace

FileReadResult ReadWholeFile(const char* path, std::string& bytes, const WholeFileOptions& options) {
    return ReadInto(path, bytes, options);
}

FileReadResult ReadWholeFile(const char* path, std::vector<unsigned char>& bytes, const WholeFileOptions& options) {
    return ReadInto(path, bytes, options);
}

}  // namespace quorvex
