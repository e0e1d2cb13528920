// Ctrl-C and termination during an export. Until the new model file is in
// place, the writer's temporary file (or the glTF writer's) is removed, a file already at the target
// stays as it was, and the process exits with 128 + the signal's number (130
// for SIGINT, 143 for SIGTERM) after a line saying "interrupted". Once the
// new file has replaced the old one (SetOutputWritten), the export has
// succeeded: a signal then only cuts the summary short, and the process exits
// with 0 after a line saying the file was written.
#pragma once

#include <sys/types.h>

namespace quorvex::cli {

// Installs the handlers for SIGINT and SIGTERM for the rest of the process.
// `command` (a string literal, e.g. "quorvex export") starts the one line the
// handler writes to standard error.
void InstallInterruptHandlers(const char* command);

// Tells the handler whether a progress line is open on standard error, so
// that it ends that line before its own.
void SetProgressLineOpen(bool open);

// Worker processes of a batch: the handler passes its signal on to each
// before the command exits, so that none is left running. At most 256 are
// kept; a worker calls ForgetWorkers() first thing.
void AddWorker(pid_t pid);
void ForgetWorker(pid_t pid);
void ForgetWorkers();

// Holds SIGINT and SIGTERM off for the calling thread until
// LetInterruptsThrough; one that arrives meanwhile is handled then. Used
// around the rename, so that the handler never runs between the target being
// replaced and SetOutputWritten.
void HoldInterrupts();
void LetInterruptsThrough();

// `path` (copied) now holds the new file; see above. Call it with interrupts
// held, before letting them through.
void SetOutputWritten(const char* path);

}  // namespace quorvex::cli
