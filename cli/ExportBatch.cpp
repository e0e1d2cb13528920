#include "cli/ExportBatch.h"

#include <glob.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "cli/Interrupt.h"

namespace quorvex::cli {

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The whole of an open temporary file, from its start.
std::string Contents(std::FILE* f) {
    std::string text;
    std::fflush(f);
    std::rewind(f);
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
    return text;
}

struct Worker {
    pid_t pid = -1;
    size_t item = 0;
    std::FILE* out = nullptr;
    std::FILE* err = nullptr;
    std::FILE* record = nullptr;
};

void CloseFiles(Worker& w) {
    for (std::FILE* f : {w.out, w.err, w.record})
        if (f) std::fclose(f);
    w.out = w.err = w.record = nullptr;
}

// In the worker: the item's export with its output going to the worker's files.
[[noreturn]] void RunWorker(const Worker& w, const BatchItem& item, const ExportOne& exportOne) {
    ForgetWorkers();
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(fileno(w.out), STDOUT_FILENO);
    ::dup2(fileno(w.err), STDERR_FILENO);
    InputReport report;
    report.input = item.input;
    report.output = item.output;
    int status = 1;
    try {
        status = exportOne(item, report);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "quorvex export: %s: Not enough memory to finish the export\n", item.input.c_str());
        report.status = "failed";
        report.exitStatus = status = 1;
        report.message = item.input + ": Not enough memory to finish the export";
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const std::string json = InputReportJson(report);
    std::fwrite(json.data(), 1, json.size(), w.record);
    std::fflush(w.record);
    ::_exit(status);
}

void DrawOverall(size_t done, size_t total, size_t running) {
    constexpr size_t kWidth = 30;
    const size_t filled = total ? done * kWidth / total : kWidth;
    std::fprintf(stderr, "\rExporting         [%s%s] %zu/%zu done, %zu running ", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, ' ').c_str(), done, total, running);
    std::fflush(stderr);
    SetProgressLineOpen(true);
}

void EndOverallLine(bool& open) {
    if (!open) return;
    std::fputc('\n', stderr);
    open = false;
    SetProgressLineOpen(false);
}

}  // namespace

std::string ExpandInputs(const std::vector<std::string>& words, std::vector<std::string>& inputs) {
    inputs.clear();
    for (const std::string& word : words) {
        struct stat st {};
        const bool exists = ::stat(word.c_str(), &st) == 0;
        if (exists && S_ISDIR(st.st_mode))
            return word + " is a folder; name the files in it, e.g. " + (word.back() == '/' ? word : word + "/") +
                   "*.glb";
        if (exists || word.find_first_of("*?[") == std::string::npos) {
            // A missing file is the import's to report, with the others.
            inputs.push_back(word);
            continue;
        }
        glob_t found{};
        const int result = ::glob(word.c_str(), 0, nullptr, &found);
        std::vector<std::string> matches;
        for (size_t i = 0; result == 0 && i < found.gl_pathc; ++i)
            if (!IsFolder(found.gl_pathv[i])) matches.push_back(found.gl_pathv[i]);
        ::globfree(&found);
        if (matches.empty()) return word + " matches no file";
        std::sort(matches.begin(), matches.end());
        inputs.insert(inputs.end(), matches.begin(), matches.end());
    }
    return {};
}

std::string PlanOutputs(const std::vector<std::string>& inputs, const std::string& outDir,
                        std::vector<BatchItem>& items) {
    items.clear();
    std::map<std::string, size_t> taken;  // lower-case output name -> item
    for (const std::string& input : inputs) {
        std::string name = std::filesystem::path(input).filename().string();
        const std::string lower = Lower(name);
        const std::string sceneSuffix = ".scene.json";
        if (lower.size() > sceneSuffix.size() && lower.ends_with(sceneSuffix)) {
            name.resize(name.size() - sceneSuffix.size());
        } else if (const size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) {
            name.resize(dot);
        }
        const std::string output = (std::filesystem::path(outDir) / (name + ".mdl")).string();
        auto [it, added] = taken.emplace(Lower(output), items.size());
        if (!added)
            return input + " and " + items[it->second].input + " would both be written to " + output +
                   (items[it->second].output == output ? "" : " (names differing only in case clash on Windows)") +
                   "; convert them into different folders";
        items.push_back({input, output});
    }
    return {};
}

int BatchExitStatus(const std::vector<InputReport>& reports) {
    int status = 0;
    for (const InputReport& r : reports)
        if (r.status != "skipped" && r.status != "stopped") status = std::max(status, r.exitStatus);
    return status;
}

int RunBatch(const std::vector<BatchItem>& items, const BatchOptions& options, const ExportOne& exportOne,
             std::vector<InputReport>& reports) {
    reports.assign(items.size(), InputReport{});
    for (size_t i = 0; i < items.size(); ++i) {
        reports[i].input = items[i].input;
        reports[i].output = items[i].output;
        reports[i].status = "skipped";
        reports[i].message = "not started: an earlier input failed (--fail-fast)";
    }
    std::vector<Worker> running;
    size_t next = 0, done = 0;
    int firstFailure = 0;
    bool lineOpen = false;
    const size_t jobs = static_cast<size_t>(std::max(1, options.jobs));
    while (next < items.size() || !running.empty()) {
        while (!firstFailure && next < items.size() && running.size() < jobs) {
            Worker w;
            w.item = next;
            w.out = std::tmpfile();
            w.err = std::tmpfile();
            w.record = std::tmpfile();
            std::fflush(stdout);
            std::fflush(stderr);
            if (w.out && w.err && w.record) w.pid = ::fork();
            if (w.pid == 0) RunWorker(w, items[next], exportOne);
            if (w.pid < 0) {
                CloseFiles(w);
                EndOverallLine(lineOpen);
                reports[next].status = "failed";
                reports[next].exitStatus = 1;
                reports[next].message =
                    items[next].input + ": no worker process could be started (" + std::strerror(errno) + ")";
                std::fprintf(stderr, "quorvex export: %s\n", reports[next].message.c_str());
                if (options.failFast) firstFailure = 1;
                ++next;
                ++done;
                continue;
            }
            AddWorker(w.pid);
            running.push_back(w);
            ++next;
        }
        if (running.empty()) break;
        if (options.progress) {
            DrawOverall(done, items.size(), running.size());
            lineOpen = true;
        }
        int raw = 0;
        const pid_t pid = ::waitpid(-1, &raw, 0);
        if (pid < 0) {
            if (errno == EINTR) continue;
            break;
        }
        auto it = std::find_if(running.begin(), running.end(), [pid](const Worker& w) { return w.pid == pid; });
        if (it == running.end()) continue;
        Worker w = *it;
        running.erase(it);
        ForgetWorker(pid);
        ++done;
        EndOverallLine(lineOpen);
        InputReport& report = reports[w.item];
        const std::string out = Contents(w.out), err = Contents(w.err), record = Contents(w.record);
        CloseFiles(w);
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
        std::fwrite(err.data(), 1, err.size(), stderr);
        std::fflush(stderr);
        std::string why;
        if (WIFEXITED(raw) && ParseInputReport(record, report, why)) {
            report.exitStatus = WEXITSTATUS(raw);
        } else if (firstFailure && WIFSIGNALED(raw) && WTERMSIG(raw) == SIGTERM) {
            report.status = "stopped";
            report.message = "stopped: an earlier input failed (--fail-fast)";
        } else {
            const int signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
            report.status = "failed";
            report.exitStatus = signal ? 128 + signal : 1;
            report.message = items[w.item].input + ": the export ended abnormally" +
                             (signal ? std::string(" (") + strsignal(signal) + ")" : std::string());
            std::fprintf(stderr, "quorvex export: %s\n", report.message.c_str());
        }
        if (options.failFast && report.exitStatus != 0 && !firstFailure && report.status != "stopped") {
            firstFailure = report.exitStatus;
            for (const Worker& other : running) ::kill(other.pid, SIGTERM);
        }
    }
    EndOverallLine(lineOpen);
    return firstFailure ? firstFailure : BatchExitStatus(reports);
}

}  // namespace quorvex::cli
