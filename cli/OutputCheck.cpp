#include "cli/OutputCheck.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace quorvex::cli {

namespace {

std::string Refusal(const std::string& output, const std::string& reason) {
    return "Cannot write " + output + ": " + reason;
}

}  // namespace

std::string CheckOutputPath(const std::string& output, const std::vector<std::string>& inputs) {
    if (output.empty()) return Refusal(output, std::strerror(ENOENT));
    struct stat target {};
    const bool exists = ::stat(output.c_str(), &target) == 0;
    if (exists && S_ISDIR(target.st_mode)) return Refusal(output, std::strerror(EISDIR));
    if (exists) {
        for (const std::string& input : inputs) {
            struct stat in {};
            if (::stat(input.c_str(), &in) == 0 && in.st_dev == target.st_dev && in.st_ino == target.st_ino)
                return Refusal(output, input == output ? "it is the input file" : "it is the input file " + input);
        }
    }
    // A trailing slash names a folder the model file cannot be.
    if (output.back() == '/') return Refusal(output, std::strerror(EISDIR));

    const std::filesystem::path parent = std::filesystem::path(output).parent_path();
    const std::string folder = parent.empty() ? std::string(".") : parent.string();
    struct stat dir {};
    if (::stat(folder.c_str(), &dir) != 0) return Refusal(output, std::strerror(errno));
    if (!S_ISDIR(dir.st_mode)) return Refusal(output, std::strerror(ENOTDIR));
    // The writer creates a file beside the target and renames it into place.
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return Refusal(output, std::strerror(errno));
    return {};
}

const std::vector<std::string>& WrittenExtensions() {
    static const std::vector<std::string> extensions = {".mdl"};
    return extensions;
}

std::string CheckOutputName(const std::string& output) {
    std::string written;
    for (const std::string& e : WrittenExtensions()) written += (written.empty() ? "" : ", ") + e;
    if (output == "-") return "-o -: a model file is not written to standard output; name a file (" + written + ")";
    std::string extension = std::filesystem::path(output).extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const std::string& e : WrittenExtensions())
        if (extension == e) return {};
    return "-o " + output + ": " +
           (extension.empty() ? std::string("the name has no extension")
                              : "the command does not write " + extension + " files") +
           "; it writes " + written;
}

}  // namespace quorvex::cli
