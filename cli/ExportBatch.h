// Several inputs in one `quorvex export`: the inputs the words name, an output
// for each in one folder, and the exports run side by side in worker
// processes (the exporter keeps one export's state per process).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/ReportFile.h"

namespace quorvex::cli {

struct BatchItem {
    std::string input;
    std::string output;
};

// The inputs `words` name, in order: a word that names an existing path is
// taken as it is; one with *, ? or [ that names none is expanded as the shell
// would (sorted), for shells that do not. Returns empty, or one line naming
// the first word that matches nothing or names a folder.
std::string ExpandInputs(const std::vector<std::string>& words, std::vector<std::string>& inputs);

// "<outDir>/<name>.mdl" for each input, <name> being its file name without
// its extension (and without ".scene" before ".json"). Two inputs that would
// write the same file, also when only the case of their names differs, are
// refused: returns one line naming both; otherwise empty.
std::string PlanOutputs(const std::vector<std::string>& inputs, const std::string& outDir,
                        std::vector<BatchItem>& items);

struct BatchOptions {
    int jobs = 1;           // at least 1: how many inputs are converted at once
    bool failFast = false;  // stop at the first input that fails
    bool progress = false;  // draw an overall progress line on standard error
};

// Converts one input: prints what it prints for a single input, fills the
// record and returns the exit status it would have alone.
using ExportOne = std::function<int(const BatchItem& item, InputReport& report)>;

// Runs `exportOne` for every item, each in a worker process of its own, at
// most `options.jobs` at a time. A worker's output is printed whole when it
// ends, so lines of different inputs never mix. Fills `reports` in the order
// of `items` (a worker that dies leaves a "failed" record naming the signal;
// under failFast the ones never started are "skipped" and the ones cut short
// "stopped"). Returns the highest exit status of the inputs that ran, or
// under failFast that of the first failure.
int RunBatch(const std::vector<BatchItem>& items, const BatchOptions& options, const ExportOne& exportOne,
             std::vector<InputReport>& reports);

// The highest exit status among records that ran to an end.
int BatchExitStatus(const std::vector<InputReport>& reports);

}  // namespace quorvex::cli
