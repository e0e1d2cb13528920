// quorvex: exports scenes to vertex-animated model files, and looks inside them.
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "cli/Commands.h"
#include "cli/HelpFormatter.h"
#include "cli/Suggest.h"
#include "cli/Version.h"

using quorvex::cli::AddCommands;
using quorvex::cli::CheckCommandWords;
using quorvex::cli::HelpFormatter;
using quorvex::cli::kExitFailed;
using quorvex::cli::kExitSuccess;
using quorvex::cli::kExitUsage;
using quorvex::cli::VersionText;

int main(int argc, char** argv) {
    CLI::App app{
        "quorvex: turns an animated 3D scene into one vertex-animated model file\n"
        "(\"MDL3\" with 8-bit or \"MDL4\" with 16-bit vertices), and looks inside such files."};
    app.formatter(std::make_shared<HelpFormatter>());
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "Print the help of every command");
    app.set_version_flag("--version", VersionText(), "Print the version and the libraries it was built with");
    int exitStatus = kExitSuccess;
    AddCommands(app, exitStatus);
    // "--frames -3:-1" would read as an option named "-3:-1"; join such a
    // value to its flag so negative frames work in both spellings.
    std::vector<std::string> words(argv, argv + argc);
    std::vector<std::string> joined;
    for (size_t i = 0; i < words.size(); ++i) {
        if (words[i] == "--frames" && i + 1 < words.size()) {
            joined.push_back("--frames=" + words[++i]);
        } else {
            joined.push_back(words[i]);
        }
    }
    if (!CheckCommandWords(app, std::vector<std::string>(joined.begin() + 1, joined.end()))) return kExitUsage;
    std::vector<char*> joinedArgv;
    for (std::string& word : joined) joinedArgv.push_back(word.data());
    try {
        app.parse(static_cast<int>(joinedArgv.size()), joinedArgv.data());
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion&) {
        std::fputs(VersionText().c_str(), stdout);
        return kExitSuccess;
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    } catch (const std::bad_alloc&) {
        // Limits refuse what a file may ask for; an allocation that fails all
        // the same ends the command cleanly, never with an abort.
        std::fprintf(stderr, "quorvex: Not enough memory to finish the command\n");
        return kExitFailed;
    }
    return exitStatus;
}
