#include "scene/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

// Not every platform has these; where one is missing, plain opening does.
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0  // only matters for a pipe, which is refused anyway
#endif
#ifndef O_BINARY
#define O_BINARY 0
#endif

namespace standin {

namespace {

template <class Bytes>
bool ReadInto(const std::string& path, Bytes& out, LoadError& error, uint64_t limit) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_BINARY);
    if (fd < 0) {
        error = {LoadErrorKind::Unreadable, std::string("cannot read the file: ") + std::strerror(errno)};
        return false;
    }
    struct stat info {};
    bool ok = false;
    if (::fstat(fd, &info) != 0) {
        error = {LoadErrorKind::Unreadable, std::string("cannot read the file: ") + std::strerror(errno)};
    } else if (!S_ISREG(info.st_mode)) {
        error = {LoadErrorKind::Unreadable, "cannot read the file: not a regular file"};
    } else if (static_cast<uint64_t>(info.st_size) > limit) {
        error = {LoadErrorKind::OverLimit, "cannot read the file: it holds " + std::to_string(info.st_size) +
                                               " bytes, more than the limit of " + std::to_string(limit)};
    } else {
        try {
            out.resize(static_cast<size_t>(info.st_size));
            size_t got = 0;
            ok = true;
            // A file that grows while it is read is cut at its size when opened.
            while (got < out.size()) {
                const ssize_t n = ::read(fd, reinterpret_cast<char*>(out.data()) + got, out.size() - got);
                if (n < 0 && errno == EINTR) continue;
                if (n < 0) {
                    error = {LoadErrorKind::Unreadable, std::string("cannot read the file: ") + std::strerror(errno)};
                    ok = false;
                    break;
                }
                if (n == 0) {
                    out.resize(got);  // the file shrank meanwhile
                    break;
                }
                got += static_cast<size_t>(n);
            }
        } catch (const std::bad_alloc&) {
            error = {LoadErrorKind::NotEnoughMemory, "Not enough memory to read the file"};
            ok = false;
        }
    }
    ::close(fd);
    if (!ok) Bytes().swap(out);
    return ok;
}

}  // namespace

bool ReadInputFile(const std::string& path, std::vector<unsigned char>& out, LoadError& error, uint64_t limit) {
    return ReadInto(path, out, error, limit);
}

bool ReadInputFile(const std::string& path, std::string& out, LoadError& error, uint64_t limit) {
    return ReadInto(path, out, error, limit);
}

}  // namespace standin
