#include "cli/ReportFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "cli/ExportReport.h"
#include "mdl/MdlReader.h"

namespace quorvex::cli {

using namespace quorvex;
using Json = nlohmann::ordered_json;

namespace {

constexpr const char* kFormatName = "quorvex-export-report";

Json InputJson(const InputReport& in) {
    Json j;
    j["input"] = in.input;
    j["output"] = in.output;
    j["status"] = in.status;
    j["exitStatus"] = in.exitStatus;
    j["message"] = in.message;
    Json warnings = Json::array();
    for (const ReportWarning& w : in.warnings) warnings.push_back({{"kind", w.kind}, {"text", w.text}});
    j["warnings"] = warnings;
    Json reductions = Json::array();
    for (const ReportReduction& r : in.reductions) reductions.push_back({{"kind", r.kind}, {"text", r.text}});
    j["reductions"] = reductions;
    j["variant"] = in.variant;
    j["counts"] = {{"vertices", in.vertices}, {"triangles", in.triangles}, {"texCoords", in.texCoords},
                   {"frames", in.frames},     {"skinWidth", in.skinWidth}, {"skinHeight", in.skinHeight}};
    j["fileSize"] = in.fileSize;
    Json sequences = Json::array();
    for (const ReportSequence& s : in.sequences)
        sequences.push_back({{"name", s.name}, {"firstFrame", s.firstFrame}, {"frameCount", s.frameCount}});
    j["sequences"] = sequences;
    j["step"] = {in.step[0], in.step[1], in.step[2]};
    j["largestError"] = {in.largestError[0], in.largestError[1], in.largestError[2]};
    Json times = Json::array();
    for (const quorvex::cli::PhaseTime& t : in.times) times.push_back({{"phase", t.caption}, {"seconds", t.seconds}});
    j["times"] = times;
    return j;
}

void ReadInput(const Json& j, InputReport& in) {
    in.input = j.at("input").get<std::string>();
    in.output = j.at("output").get<std::string>();
    in.status = j.at("status").get<std::string>();
    in.exitStatus = j.at("exitStatus").get<int>();
    in.message = j.at("message").get<std::string>();
    for (const Json& w : j.at("warnings"))
        in.warnings.push_back({w.at("kind").get<std::string>(), w.at("text").get<std::string>()});
    for (const Json& r : j.at("reductions"))
        in.reductions.push_back({r.at("kind").get<std::string>(), r.at("text").get<std::string>()});
    in.variant = j.at("variant").get<std::string>();
    const Json& c = j.at("counts");
    in.vertices = c.at("vertices").get<int64_t>();
    in.triangles = c.at("triangles").get<int64_t>();
    in.texCoords = c.at("texCoords").get<int64_t>();
    in.frames = c.at("frames").get<int64_t>();
    in.skinWidth = c.at("skinWidth").get<int64_t>();
    in.skinHeight = c.at("skinHeight").get<int64_t>();
    in.fileSize = j.at("fileSize").get<uint64_t>();
    for (const Json& s : j.at("sequences"))
        in.sequences.push_back(
            {s.at("name").get<std::string>(), s.at("firstFrame").get<int32_t>(), s.at("frameCount").get<int32_t>()});
    for (int a = 0; a < 3; ++a) {
        in.step[a] = j.at("step").at(a).get<double>();
        in.largestError[a] = j.at("largestError").at(a).get<double>();
    }
    for (const Json& t : j.at("times"))
        in.times.push_back({t.at("phase").get<std::string>(), t.at("seconds").get<double>()});
}

std::string Dump(const Json& j) { return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n"; }

}  // namespace

std::string InputReportJson(const InputReport& input) { return Dump(InputJson(input)); }

std::string ReportJson(const ExportRunReport& report) {
    Json j;
    j["format"] = kFormatName;
    j["version"] = report.version;
    j["exitStatus"] = report.exitStatus;
    j["seconds"] = report.seconds;
    Json inputs = Json::array();
    for (const InputReport& in : report.inputs) inputs.push_back(InputJson(in));
    j["inputs"] = inputs;
    return Dump(j);
}

bool ParseInputReport(const std::string& text, InputReport& out, std::string& error) {
    try {
        out = InputReport{};
        ReadInput(Json::parse(text), out);
        return true;
    } catch (const Json::exception& e) {
        error = e.what();
        return false;
    }
}

bool ParseReport(const std::string& text, ExportRunReport& out, std::string& error) {
    try {
        const Json j = Json::parse(text);
        if (j.at("format").get<std::string>() != kFormatName) {
            error = "not an export report";
            return false;
        }
        out = ExportRunReport{};
        out.version = j.at("version").get<int>();
        if (out.version > kReportVersion) {
            error =
                "report version " + std::to_string(out.version) + " is newer than " + std::to_string(kReportVersion);
            return false;
        }
        out.exitStatus = j.at("exitStatus").get<int>();
        out.seconds = j.at("seconds").get<double>();
        for (const Json& in : j.at("inputs")) {
            out.inputs.emplace_back();
            ReadInput(in, out.inputs.back());
        }
        return true;
    } catch (const Json::exception& e) {
        error = e.what();
        return false;
    }
}

bool DescribeWrittenFile(const std::string& path, const MdlReadResult& read, InputReport& in) {
    if (!read.ok()) return false;
    const MdlHeader& h = read.file.header;
    in.variant = read.file.sixteenBit ? "MDL4" : "MDL3";
    in.vertices = h.vertexCount;
    in.triangles = h.triangleCount;
    in.texCoords = h.texCoordCount;
    in.frames = h.frameCount;
    in.skinWidth = h.skinWidth;
    in.skinHeight = h.skinHeight;
    std::error_code ec;
    const uintmax_t size = std::filesystem::file_size(path, ec);
    in.fileSize = ec ? 0 : size;
    in.sequences.clear();
    for (const MdlSequence& s : GroupMdlSequences(read.file.frames))
        in.sequences.push_back({s.name, s.firstFrame, s.frameCount});
    if (read.file.frames.empty()) return true;
    // A flat axis stores every value exactly, whatever its step says.
    MdlVec3 lo, hi;
    ModelBox(read.file, lo, hi);
    const double extent[3] = {double(hi.x) - lo.x, double(hi.y) - lo.y, double(hi.z) - lo.z};
    for (int a = 0; a < 3; ++a) {
        in.step[a] = double(h.scale[a]);
        in.largestError[a] = extent[a] == 0 ? 0 : double(h.scale[a]);
    }
    return true;
}

std::string WriteTextFile(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".part";
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) return std::strerror(errno);
    const bool wrote = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const int writeError = errno;
    if (std::fclose(f) != 0 || !wrote) {
        std::remove(temporary.c_str());
        return std::strerror(wrote ? errno : writeError);
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int renameError = errno;
        std::remove(temporary.c_str());
        return std::strerror(renameError);
    }
    return {};
}

}  // namespace quorvex::cli
