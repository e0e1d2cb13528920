#include "import/IsolatedRead.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "import/SceneWire.h"

namespace quorvex::importer {
using quorvex::scene::LoadError;
using quorvex::scene::LoadErrorKind;

namespace {

// How the child ends when it cannot hand over a result.
constexpr int kOutOfMemoryExit = 121;  // an allocation failed under the memory limit
constexpr int kExceptionExit = 122;    // the reader let something unknown escape
constexpr int kNoResultExit = 123;     // the pipe would not take the result

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSpaceReserved = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSpaceReserved = true;
#else
constexpr bool kAddressSpaceReserved = false;
#endif
#else
constexpr bool kAddressSpaceReserved = false;
#endif

// A whole decimal number from the environment, or `fallback`.
uint64_t EnvNumber(const char* name, uint64_t fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    uint64_t value = 0;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9' || value > (UINT64_MAX - 9) / 10) return fallback;
        value = value * 10 + static_cast<uint64_t>(*c - '0');
    }
    return value;
}

void SetLimit(int resource, uint64_t soft, uint64_t hard) {
    struct rlimit now {};
    if (getrlimit(resource, &now) != 0) return;
    // A limit already lower stays; the hard one cannot be raised anyway.
    struct rlimit next {};
    next.rlim_max = std::min<rlim_t>(now.rlim_max, static_cast<rlim_t>(hard));
    next.rlim_cur = std::min<rlim_t>(next.rlim_max, static_cast<rlim_t>(soft));
    setrlimit(resource, &next);
}

void OnChildOutOfMemory() { ::_exit(kOutOfMemoryExit); }

[[noreturn]] void RunChild(int fd, pid_t parent, const ReaderLimits& limits,
                           const std::function<bool(AnimatedScene&, LoadError&)>& read) {
    // The child goes when the command goes, however it ends.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) ::_exit(kNoResultExit);
    // The command's handlers (Ctrl-C removes its temporary file) are not the
    // child's, and a fault must end the child as the signal it is.
    for (int signal : {SIGINT, SIGTERM, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGPIPE, SIGXCPU})
        ::signal(signal, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    SetLimit(RLIMIT_CORE, 0, 0);  // a crash on a hostile file leaves no core behind
    // A sanitizer reserves terabytes of address space up front: no limit fits.
    if (limits.memoryBytes > 0 && !kAddressSpaceReserved) SetLimit(RLIMIT_AS, limits.memoryBytes, limits.memoryBytes);
    // Past the soft limit SIGXCPU ends the child; the hard one is a backstop.
    if (limits.cpuSeconds > 0) SetLimit(RLIMIT_CPU, limits.cpuSeconds, uint64_t{limits.cpuSeconds} + 2);
    std::set_new_handler(OnChildOutOfMemory);
    WireResult result;
    try {
        result.ok = read(result.scene, result.error);
    } catch (const std::bad_alloc&) {
        ::_exit(kOutOfMemoryExit);  // where an allocator throws without asking the handler
    } catch (...) {
        ::_exit(kExceptionExit);
    }
    // No destructors: the process ends, and its memory with it.
    ::_exit(WriteWireResult(fd, result) ? 0 : kNoResultExit);
}

// The pipe's end in the parent, read until the deadline.
struct PipeSource : WireSource {
    int fd = -1;
    bool timed = false;
    std::chrono::steady_clock::time_point deadline;
    bool timedOut = false;

    size_t Read(unsigned char* buffer, size_t capacity) override {
        for (;;) {
            int wait = -1;
            if (timed) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                        .count();
                if (left <= 0) {
                    timedOut = true;
                    return 0;
                }
                wait = static_cast<int>(std::min<long long>(left, INT_MAX));
            }
            struct pollfd p {
                fd, POLLIN, 0
            };
            const int ready = poll(&p, 1, wait);
            if (ready < 0 && errno == EINTR) continue;
            if (ready == 0) continue;  // the deadline is checked above
            if (ready < 0) return 0;
            const ssize_t got = ::read(fd, buffer, capacity);
            if (got < 0 && errno == EINTR) continue;
            return got > 0 ? static_cast<size_t>(got) : 0;
        }
    }
};

// Children that handed over their whole result and were left to end on
// their own: the end of a process (giving back all its memory) takes a
// millisecond or more, on a large read tens, and nothing waits for it. Each
// read reaps those that have ended since.
std::mutex endingLock;
std::vector<pid_t> ending;

void ReapEnded() {
    const std::lock_guard<std::mutex> hold(endingLock);
    std::erase_if(ending, [](pid_t pid) {
        int status = 0;
        pid_t done;
        while ((done = waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {}
        return done != 0;  // ended, or reaped by someone else
    });
}

// Ends and reaps the child however the parent leaves, exceptions included.
struct ChildGuard {
    pid_t pid = -1;
    int fd = -1;
    int status = 0;
    bool reaped = false;

    void Reap(bool kill) {
        if (fd >= 0) ::close(fd);
        fd = -1;
        if (reaped || pid <= 0) return;
        if (kill) ::kill(pid, SIGKILL);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
        reaped = true;
    }
    // For a child whose whole result is in: only its end is left, so the
    // next read reaps it instead of this one waiting.
    void LetEnd() {
        if (fd >= 0) ::close(fd);
        fd = -1;
        if (reaped || pid <= 0) return;
        reaped = true;
        try {
            const std::lock_guard<std::mutex> hold(endingLock);
            ending.push_back(pid);
        } catch (...) {
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
        }
    }
    ~ChildGuard() { Reap(true); }
};

std::string Mebibytes(uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

// Why a child that gave no usable result ended.
std::string WhyEnded(int status, const ReaderLimits& limits) {
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        switch (signal) {
            case SIGSEGV: return "segmentation fault";
            case SIGBUS: return "bus error";
            case SIGFPE: return "arithmetic fault";
            case SIGILL: return "illegal instruction";
            case SIGABRT: return "abort";
            case SIGXCPU: return "more than its limit of " + std::to_string(limits.cpuSeconds) + " s of processor time";
            case SIGKILL: return "killed";
            case SIGINT: return "interrupted";
            case SIGTERM: return "terminated";
            default: return "signal " + std::to_string(signal) + ", " + strsignal(signal);
        }
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code == kOutOfMemoryExit) {
        return limits.memoryBytes > 0 && !kAddressSpaceReserved
                   ? "more than its memory limit of " + Mebibytes(limits.memoryBytes)
                   : std::string("out of memory");
    }
    if (code == kExceptionExit) return "an unexpected exception";
    return "it ended with status " + std::to_string(code) + " and no result";
}

// A child that ran into a limit of its own, rather than failing on the file.
bool EndedAtLimit(int status) {
    return (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU) ||
           (WIFEXITED(status) && WEXITSTATUS(status) == kOutOfMemoryExit);
}

LoadError Failed(const std::string& path, LoadErrorKind kind, const std::string& why) {
    return {kind, path + ": the reader for this format failed (" + why + "); nothing was written"};
}

}  // namespace

ReaderLimits DefaultReaderLimits() {
    static const ReaderLimits limits = [] {
        ReaderLimits l;
        const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGE_SIZE);
        const uint64_t physical = pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : 0;
        l.memoryBytes = std::max(physical + (uint64_t{1} << 30), uint64_t{4} << 30);
        const uint64_t mib = EnvNumber("QUORVEX_READER_MEMORY_MB", l.memoryBytes >> 20);
        l.memoryBytes = std::min<uint64_t>(mib, uint64_t{1} << 43) << 20;
        l.cpuSeconds =
            static_cast<uint32_t>(std::min<uint64_t>(EnvNumber("QUORVEX_READER_CPU_SECONDS", 600), UINT32_MAX));
        l.wallSeconds =
            static_cast<uint32_t>(std::min<uint64_t>(EnvNumber("QUORVEX_READER_WALL_SECONDS", 1200), UINT32_MAX));
        return l;
    }();
    return limits;
}

bool ReadIsolated(const std::string& path, const ReaderLimits& limits,
                  const std::function<bool(AnimatedScene& out, LoadError& error)>& read, AnimatedScene& out,
                  LoadError& error) {
    ReapEnded();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = {LoadErrorKind::Unreadable,
                 path + ": cannot read the file: no pipe for its reader: " + std::strerror(errno)};
        return false;
    }
    // A larger pipe takes a large scene in fewer turns between the processes.
    fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
    // What this process still buffers would otherwise be written twice.
    std::fflush(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        ::close(fds[0]);
        RunChild(fds[1], parent, limits, read);
    }
    const int forkError = errno;
    ::close(fds[1]);
    ChildGuard child;
    child.pid = pid;
    child.fd = fds[0];
    if (pid < 0) {
        error = {LoadErrorKind::Unreadable,
                 path + ": cannot read the file: no process for its reader: " + std::strerror(forkError)};
        return false;
    }

    PipeSource source;
    source.fd = fds[0];
    source.timed = limits.wallSeconds > 0;
    source.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limits.wallSeconds);
    WireResult result;
    std::string why;
    const bool received = ReadWireResult(source, result, why);
    if (received) {
        // The child writes its result last and then ends: a whole result is
        // the read's outcome, however the child's end goes.
        child.LetEnd();
        if (!result.ok) {
            error = std::move(result.error);
            return false;
        }
        out = std::move(result.scene);
        return true;
    }
    child.Reap(source.timedOut);
    if (source.timedOut) {
        error = Failed(path, LoadErrorKind::OverLimit, "no result after " + std::to_string(limits.wallSeconds) + " s");
        return false;
    }
    const bool exited = WIFEXITED(child.status) && WEXITSTATUS(child.status) == 0;
    if (!exited) {
        const LoadErrorKind kind = EndedAtLimit(child.status) ? LoadErrorKind::OverLimit : LoadErrorKind::Malformed;
        error = Failed(path, kind, WhyEnded(child.status, limits));
        return false;
    }
    error = Failed(path, LoadErrorKind::Malformed, "its result cannot be read: " + why);
    return false;
}

bool ReaderMemoryLimitHolds() { return !kAddressSpaceReserved; }

}  // namespace quorvex::importer
