#include "cli/Interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "mdl/MdlFileWriter.h"

using namespace quorvex;

namespace {

const char* commandName = "quorvex";
volatile sig_atomic_t progressLineOpen = 0;
constexpr int MaxWorkers = 256;
volatile pid_t workers[MaxWorkers] = {};

void WriteText(const char* text) {
    // Only async-signal-safe calls from here on; a short write is ignored.
    ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

void OnSignal(int signal) {
    if (const char* temporary = MdlPendingTemporaryFile()) ::unlink(temporary);
    for (int i = 0; i < MaxWorkers; ++i)
        if (workers[i] > 0) ::kill(workers[i], signal);
    if (progressLineOpen) WriteText("\n");
    WriteText(commandName);
    WriteText(signal == SIGINT ? ": interrupted\n" : ": terminated\n");
    ::_exit(128 + signal);
}

}  // namespace

void InstallInterruptHandlers(const char* command) {
    commandName = command;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // Either signal is held off while the handler for the other runs.
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void SetProgressLineOpen(bool open) { progressLineOpen = open ? 1 : 0; }

void AddWorker(pid_t pid) {
    for (int i = 0; i < MaxWorkers; ++i)
        if (workers[i] <= 0) {
            workers[i] = pid;
            return;
        }
}

void ForgetWorker(pid_t pid) {
    for (int i = 0; i < MaxWorkers; ++i)
        if (workers[i] == pid) workers[i] = 0;
}

void ForgetWorkers() {
    for (int i = 0; i < MaxWorkers; ++i) workers[i] = 0;
}
