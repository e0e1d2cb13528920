#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

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
    std::remove(path.c_str());
}

}  // namespace
