// quorvex info FILE.mdl... [--json]: what a model file holds, for people or, as
// JSON keyed by the file's field names, for scripts.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "import/Importer.h"
#include "mdl/MdlReader.h"

namespace quorvex::cli {

using namespace quorvex;

namespace {

struct InfoArguments {
    std::vector<std::string> paths;
    bool json = false;
};

// True when `text` is well-formed UTF-8 (shortest forms, no surrogates).
bool ValidUtf8(const std::string& text) {
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        size_t length = 1;
        uint32_t code = c;
        if (c >= 0xf0 && c <= 0xf4)
            length = 4, code = c & 0x07;
        else if (c >= 0xe0)
            length = 3, code = c & 0x0f;
        else if (c >= 0xc2 && c < 0xe0)
            length = 2, code = c & 0x1f;
        else if (c >= 0x80)
            return false;
        if (length > text.size() - i) return false;
        for (size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80) return false;
            code = (code << 6) | (next & 0x3f);
        }
        if ((length == 3 && (code < 0x800 || (code >= 0xd800 && code <= 0xdfff))) ||
            (length == 4 && (code < 0x10000 || code > 0x10ffff)))
            return false;
        i += length;
    }
    return true;
}

// Frame names are raw bytes: printed as they are when they are UTF-8, with
// control characters and backslashes escaped so the output stays readable
// and unambiguous; every byte outside ASCII is escaped when they are not.
std::string Printable(const std::string& text) {
    const bool utf8 = ValidUtf8(text);
    std::string out;
    for (unsigned char ch : text) {
        if ((ch >= 0x20 && ch < 0x7f && ch != '\\') || (utf8 && ch >= 0x80)) {
            out += char(ch);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", ch);
            out += escape;
        }
    }
    return out;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string Triple(const MdlVec3& v) { return "(" + Number(v.x) + ", " + Number(v.y) + ", " + Number(v.z) + ")"; }

const char* SkinTypeName(int32_t skinType) { return skinType == kSkinFormatARGB4444 ? "ARGB4444" : "RGB565"; }

nlohmann::ordered_json JsonTriple(const MdlVec3& v) {
    return nlohmann::ordered_json::array({double(v.x), double(v.y), double(v.z)});
}

nlohmann::ordered_json InfoJson(const std::string& path, const MdlReadResult& read) {
    const MdlFile& f = read.file;
    const MdlHeader& h = f.header;
    nlohmann::ordered_json out;
    out["file"] = path;
    out["magic"] = std::string(h.magic, 4);
    out["scale"] = nlohmann::ordered_json::array({double(h.scale[0]), double(h.scale[1]), double(h.scale[2])});
    out["origin"] = nlohmann::ordered_json::array({double(h.origin[0]), double(h.origin[1]), double(h.origin[2])});
    out["skinCount"] = h.skinCount;
    out["skinWidth"] = h.skinWidth;
    out["skinHeight"] = h.skinHeight;
    out["vertexCount"] = h.vertexCount;
    out["triangleCount"] = h.triangleCount;
    out["frameCount"] = h.frameCount;
    out["texCoordCount"] = h.texCoordCount;
    out["skinType"] = f.skinType;
    out["fileSize"] = f.fileSize;
    out["modelSize"] = f.modelSize;
    nlohmann::ordered_json sequences = nlohmann::ordered_json::array();
    for (const MdlSequence& s : GroupMdlSequences(f.frames))
        sequences.push_back({{"name", s.name}, {"firstFrame", s.firstFrame}, {"frameCount", s.frameCount}});
    out["sequences"] = sequences;
    nlohmann::ordered_json frames = nlohmann::ordered_json::array();
    for (const MdlFrame& frame : f.frames)
        frames.push_back({{"name", frame.name},
                          {"frameType", frame.frameType},
                          {"bboxMin", JsonTriple(DecodeMdlPosition(h, frame.bboxMin))},
                          {"bboxMax", JsonTriple(DecodeMdlPosition(h, frame.bboxMax))}});
    out["frames"] = frames;
    out["warnings"] = read.warnings;
    return out;
}

void PrintInfo(const std::string& path, const MdlReadResult& read) {
    const MdlFile& f = read.file;
    const MdlHeader& h = f.header;
    std::cout << path << ": " << std::string(h.magic, 4) << ", " << (f.sixteenBit ? "16" : "8") << "-bit vertices\n";
    std::cout << "skin:       " << h.skinCount << " x " << h.skinWidth << "x" << h.skinHeight << " pixels, "
              << SkinTypeName(f.skinType) << " (type " << f.skinType << ")\n";
    std::cout << "counts:     " << h.vertexCount << " vertices, " << h.triangleCount << " triangles, "
              << h.texCoordCount << " texture coordinates, " << h.frameCount
              << (h.frameCount == 1 ? " frame\n" : " frames\n");
    std::cout << "scale:      " << Triple({h.scale[0], h.scale[1], h.scale[2]}) << "\n";
    std::cout << "origin:     " << Triple({h.origin[0], h.origin[1], h.origin[2]}) << "\n";
    std::cout << "size:       " << f.fileSize << " bytes; the header implies " << f.modelSize << "\n";
    std::cout << "sequences:\n";
    for (const MdlSequence& s : GroupMdlSequences(f.frames)) {
        std::cout << "  " << (s.name.empty() ? "\"\"" : Printable(s.name)) << ": " << s.frameCount
                  << (s.frameCount == 1 ? " frame" : " frames") << " (frame " << s.firstFrame;
        if (s.frameCount > 1) std::cout << ".." << (s.firstFrame + s.frameCount - 1);
        std::cout << ")\n";
    }
    std::cout << "frames (box in model units):\n";
    for (size_t i = 0; i < f.frames.size(); ++i) {
        const MdlFrame& frame = f.frames[i];
        char prefix[64];
        std::snprintf(prefix, sizeof prefix, "  %5zu  %-16s", i, Printable(frame.name).c_str());
        std::cout << prefix << " min " << Triple(DecodeMdlPosition(h, frame.bboxMin)) << "  max "
                  << Triple(DecodeMdlPosition(h, frame.bboxMax)) << "\n";
    }
}

// Reads one file, reporting a failure on standard error. Returns the exit
// status its failure calls for, or kExitSuccess.
int ReadForInfo(const std::string& path, MdlReadResult& read) {
    read = ReadMdlFile(path.c_str());
    if (!read.ok()) {
        // A scene or an interchange file is what `export` takes, not a model file.
        const std::string extension = quorvex::importer::LowerExtension(path);
        if (read.error.kind != MdlErrorKind::Io && extension.size() > 1 &&
            std::string(" .json .gltf .glb .fbx .obj .dae .3ds .blend .ply .stl .x .lwo .ms3d ")
                    .find(" " + extension + " ") != std::string::npos) {
            std::cerr << "quorvex info: " << path << ": a scene, not a model file; 'quorvex export " << path
                      << " -o OUT.mdl' converts it\n";
            return kExitUsage;
        }
        if (read.error.kind == MdlErrorKind::Io) {
            std::cerr << "quorvex info: " << path << ": " << read.error.message << "\n";
            return kExitUsage;
        }
        std::cerr << "quorvex info: " << path << ": malformed model file (" << MdlErrorKindName(read.error.kind)
                  << " at byte " << read.error.offset << "): " << read.error.message << "\n";
        return kExitFailed;
    }
    for (const std::string& warning : read.warnings)
        std::cerr << "quorvex info: " << path << ": warning: " << warning << "\n";
    return kExitSuccess;
}

// Every file is reported, readable or not; the status is the worst of them
// (an unreadable file over a malformed one).
int RunInfo(const InfoArguments& args) {
    int status = kExitSuccess;
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    bool first = true;
    for (const std::string& path : args.paths) {
        MdlReadResult read;
        const int result = ReadForInfo(path, read);
        if (result != kExitSuccess) {
            if (status != kExitUsage) status = result;
            continue;
        }
        if (args.json) {
            all.push_back(InfoJson(path, read));
            continue;
        }
        if (!first) std::cout << "\n";
        first = false;
        PrintInfo(path, read);
    }
    if (args.json) {
        // One file gives its object, several an array of them. Frame names are
        // raw bytes and need not be UTF-8; replace what is not.
        const nlohmann::ordered_json& out = args.paths.size() == 1 && all.size() == 1 ? all[0] : all;
        if (args.paths.size() > 1 || !all.empty())
            std::cout << out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << "\n";
    }
    if (!std::cout.flush()) return kExitFailed;
    return status;
}

}  // namespace

void AddInfoCommand(CLI::App& app, int& exitStatus) {
    auto args = std::make_shared<InfoArguments>();
    CLI::App* command =
        app.add_subcommand("info", "Show what a model file holds: counts, skin, frames and their sequences.");
    command->footer(
        "Show what a model file holds: variant, skin size and type, counts, scale and origin, the file's size\n"
        "against the size its header implies, the frames grouped into sequences by name, and every frame's\n"
        "bounding box in model units. Exit status: 0 success, 1 malformed model file, 2 bad usage or an\n"
        "unreadable file. Bytes after the model's end are reported as a warning. With several files each\n"
        "is shown in turn, and the status is that of the worst.");
    command->add_option("FILE", args->paths, "The model files (\"MDL3\" or \"MDL4\") to inspect, one or more.")
        ->required();
    command->add_flag("--json", args->json,
                      "Print the same as one JSON object for scripts, keyed by the file's field names (magic, scale,\n"
                      "origin, skinCount, skinWidth, skinHeight, vertexCount, triangleCount, frameCount,\n"
                      "texCoordCount, skinType, frames[].name/bboxMin/bboxMax) plus fileSize, modelSize,\n"
                      "sequences and warnings. Several files give one array of such objects.");
    command->callback([args, &exitStatus] { exitStatus = RunInfo(*args); });
}

}  // namespace quorvex::cli
