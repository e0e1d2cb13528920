// Ctrl-C and termination during an export: the model writer's temporary file
// is removed, a file already at the target stays as it was, and the process
// exits with 128 + the signal's number (130 for SIGINT, 143 for SIGTERM).
#pragma once

#include <sys/types.h>

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
