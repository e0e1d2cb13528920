// Ctrl-C and termination during an export: the model writer's temporary file
// (or the glTF writer's) is removed, a file already at the target stays as it was, and the process
// exits with 128 + the signal's number (130 for SIGINT, 143 for SIGTERM).
#pragma once

// Installs the handlers for SIGINT and SIGTERM for the rest of the process.
// `command` (a string literal, e.g. "quorvex export") starts the one line the
// handler writes to standard error.
void InstallInterruptHandlers(const char* command);

// Tells the handler whether a progress line is open on standard error, so
// that it ends that line before its own.
void SetProgressLineOpen(bool open);
