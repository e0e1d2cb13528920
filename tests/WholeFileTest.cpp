#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "mdl/WholeFile.h"

using namespace quorvex;

namespace {

TEST(WholeFile, ReadsPastOneChunkAndReportsEachFailure) {
    const std::string path = ::testing::TempDir() + "whole_file_test.bin";
    std::string content(200000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    std::ofstream(path, std::ios::binary) << content;

    std::string bytes = "old";
    EXPECT_EQ(ReadWholeFile(path.c_str(), bytes).status, FileReadStatus::Ok);
    EXPECT_EQ(bytes, content);

    struct Case {
        const char* path;
        FileReadStatus status;
    };
    const std::string missing = path + ".missing";
    const std::string folder = ::testing::TempDir();
    for (const Case& c : {Case{missing.c_str(), FileReadStatus::CannotOpen}, Case{nullptr, FileReadStatus::CannotOpen},
                          Case{folder.c_str(), FileReadStatus::CannotRead}}) {
        bytes = "old";
        const FileReadResult r = ReadWholeFile(c.path, bytes);
        EXPECT_EQ(r.status, c.status) << (c.path ? c.path : "null");
        EXPECT_TRUE(bytes.empty());
        if (c.path) {
            EXPECT_NE(r.error, 0);
        }
    }

    // The options: a limit, regular files only, padding after the content.
    struct OptionCase {
        const char* file;
        WholeFileOptions options;
        FileReadStatus status;
        size_t kept;
    };
    WholeFileOptions limited, regular, padded;
    limited.limit = content.size() - 1;
    regular.regularOnly = true;
    padded.padding = 64;
    padded.limit = content.size();
    const OptionCase optionCases[] = {
        {path.c_str(), limited, FileReadStatus::TooLarge, 0},
        {"/dev/null", regular, FileReadStatus::NotRegular, 0},
        {path.c_str(), regular, FileReadStatus::Ok, content.size()},
        {path.c_str(), padded, FileReadStatus::Ok, content.size() + 64},
    };
    for (const OptionCase& c : optionCases) {
        std::vector<unsigned char> got(3, 'x');
        const FileReadResult r = ReadWholeFile(c.file, got, c.options);
        EXPECT_EQ(r.status, c.status) << c.file;
        EXPECT_EQ(got.size(), c.kept) << c.file;
    }
    std::string withPadding;
    ASSERT_EQ(ReadWholeFile(path.c_str(), withPadding, padded).size, content.size());
    EXPECT_EQ(withPadding, content + std::string(64, '\0'));
    std::remove(path.c_str());
}

}  // namespace
