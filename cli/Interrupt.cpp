#include "cli/Interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "gltfout/GltfExport.h"
#include "mdl/MdlFileWriter.h"

namespace quorvex::cli {

using quorvex::gltfout::GltfPendingTemporaryFile;
using quorvex::gltfout::kGltfPendingMax;

using namespace quorvex;

namespace {

const char* commandName = "quorvex";
volatile sig_atomic_t progressLineOpen = 0;
constexpr int kMaxWorkers = 256;
volatile pid_t workers[kMaxWorkers] = {};
// Set once the output is in place; the name stays valid for the rest of the
// process (it is never freed), so the handler may read it at any time.
volatile sig_atomic_t outputWritten = 0;
const char* writtenPath = "the model file";

void WriteText(const char* text) {
    // Only async-signal-safe calls from here on; a short write is ignored.
    ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

void OnSignal(int signal) {
    for (int i = 0; i < kMaxWorkers; ++i)
        if (workers[i] > 0) ::kill(workers[i], signal);
    for (int slot = 0; slot < kGltfPendingMax; ++slot)
        if (const char* temporary = GltfPendingTemporaryFile(slot)) ::unlink(temporary);
    if (progressLineOpen) WriteText("\n");
    WriteText(commandName);
    if (outputWritten) {
        // The new file replaced the old one: removing or reporting it as not
        // written would lose the user's work, not protect it.
        WriteText(": ");
        WriteText(writtenPath);
        WriteText(" was written; stopped before the summary\n");
        ::_exit(0);
    }
    if (const char* temporary = MdlPendingTemporaryFile()) ::unlink(temporary);
    WriteText(signal == SIGINT ? ": interrupted\n" : ": terminated\n");
    ::_exit(128 + signal);
}

sigset_t InterruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void InstallInterruptHandlers(const char* command) {
    commandName = command;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    // Either signal is held off while the handler for the other runs.
    action.sa_mask = InterruptSignals();
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void SetProgressLineOpen(bool open) { progressLineOpen = open ? 1 : 0; }

void AddWorker(pid_t pid) {
    for (int i = 0; i < kMaxWorkers; ++i)
        if (workers[i] <= 0) {
            workers[i] = pid;
            return;
        }
}

void ForgetWorker(pid_t pid) {
    for (int i = 0; i < kMaxWorkers; ++i)
        if (workers[i] == pid) workers[i] = 0;
}

void ForgetWorkers() {
    for (int i = 0; i < kMaxWorkers; ++i) workers[i] = 0;
}

void HoldInterrupts() {
    const sigset_t set = InterruptSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void LetInterruptsThrough() {
    const sigset_t set = InterruptSignals();
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void SetOutputWritten(const char* path) {
    // Kept for the handler for the rest of the process; see above.
    if (char* copy = ::strdup(path)) writtenPath = copy;
    outputWritten = 1;
}

}  // namespace quorvex::cli
