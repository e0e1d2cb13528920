// The export report (--report FILE.json): one record per input with what
// became of it, and the JSON form documented in docs/report.md. The same form
// carries one input's record from a worker process back to the command.
#pragma once

#include "mdl/MdlReader.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/ConsoleProgress.h"

namespace quorvex::cli {

// Bumped whenever a field changes meaning or goes away; new fields may be
// added within a version.
constexpr int kReportVersion = 1;

struct ReportWarning {
    std::string kind;  // a stable tag (see WarningKind in cli/Warnings.h)
    std::string text;  // the line as printed, without the file name
};

// Something a budget took away to make the model fit (filled by the budget flags).
struct ReportReduction {
    std::string kind;
    std::string text;
};

struct ReportSequence {
    std::string name;  // may be empty
    int32_t firstFrame = 0;
    int32_t frameCount = 0;
};

struct InputReport {
    std::string input;
    std::string output;  // empty when no output was planned (e.g. an unreadable input before planning)
    // "written", "refused" (the exporter or import said no), "failed" (no
    // file for another reason), "usage" (bad flags or unreadable input),
    // "skipped" (never started: --fail-fast), "stopped" (cut short: --fail-fast).
    std::string status;
    int exitStatus = 0;
    std::string message;  // why it was not written; empty when it was
    std::vector<ReportWarning> warnings;
    std::vector<ReportReduction> reductions;
    // What the written file holds; all zero unless written.
    std::string variant;  // "MDL3" or "MDL4"
    int64_t vertices = 0, triangles = 0, texCoords = 0, frames = 0;
    int64_t skinWidth = 0, skinHeight = 0;
    uint64_t fileSize = 0;
    std::vector<ReportSequence> sequences;
    // Per axis: the quantization step, which is also the largest position
    // error (positions are stored truncated); 0 on a flat axis.
    std::array<double, 3> step{}, largestError{};
    std::vector<quorvex::cli::PhaseTime> times;  // as the command names the phases
};

struct ExportRunReport {
    int version = kReportVersion;
    int exitStatus = 0;
    double seconds = 0;  // wall time of the whole command
    std::vector<InputReport> inputs;
};

// The JSON text of `report` (UTF-8; bytes that are not are replaced).
std::string ReportJson(const ExportRunReport& report);
// One input's record alone, as a JSON object.
std::string InputReportJson(const InputReport& input);

// Reads what ReportJson or InputReportJson wrote. False with `error` when the
// text is not such a report or is of a newer version.
bool ParseReport(const std::string& text, ExportRunReport& out, std::string& error);
bool ParseInputReport(const std::string& text, InputReport& out, std::string& error);

// Fills the counts, sequences, size, steps and errors of `input` from the
// model file at `path`, already read as `read` (the command's read-back).
// False when it did not read.
bool DescribeWrittenFile(const std::string& path, const quorvex::MdlReadResult& read, InputReport& input);

// Writes `text` to `path` through a temporary file renamed into place.
// Returns empty, or the reason it could not be written.
std::string WriteTextFile(const std::string& path, const std::string& text);

}  // namespace quorvex::cli
