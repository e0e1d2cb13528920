// The help text's layout: each command's groups ("Positionals:", "Options:")
// start after a blank line in --help-all, so that the manual page made from
// it keeps them apart from the paragraph before.
#pragma once

#include <string>

#include <CLI/CLI.hpp>

namespace quorvex::cli {

class HelpFormatter : public CLI::Formatter {
public:
    std::string make_expanded(const CLI::App* sub) const override;
};

}  // namespace quorvex::cli
