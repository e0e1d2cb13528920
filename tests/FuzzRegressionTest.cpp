// Every input that ever made a fuzz target fail, kept in fuzz/regressions/<target>/,
// replayed through the target's body: none may crash again (the sanitizer
// build turns a bad read or an overflow into a failure).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fuzz/FuzzTargets.h"
#include "tests/CliRunner.h"

TEST(FuzzRegressions, EveryKeptInputRunsCleanly) {
    namespace fs = std::filesystem;
    size_t replayed = 0;
    for (const fuzzkit::Target& target : fuzzkit::Targets()) {
        const fs::path dir = fs::path(QUORVEX_SOURCE_DIR) / "fuzz" / "regressions" / target.name;
        if (!fs::is_directory(dir)) continue;
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (!entry.is_regular_file() || entry.path().filename().string().front() == '.') continue;
            SCOPED_TRACE(entry.path().string());
            const std::string bytes = ReadWholeFile(entry.path());
            target.run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0u);
}
