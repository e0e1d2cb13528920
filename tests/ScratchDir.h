// A fresh empty folder for one test, named after the test, removed with all it
// holds when the test ends.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

struct ScratchDir {
    std::filesystem::path path;

    // Makes <temp>/quorvex-<prefix>-<pid>-<test>-<n>, empty. Call it while a test
    // runs (in a fixture's member initialiser or body).
    explicit ScratchDir(const std::string& prefix) {
        static int serial = 0;
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        path = std::filesystem::temp_directory_path() / ("quorvex-" + prefix + "-" + std::to_string(::getpid()) + "-" +
                                                         (test ? test->name() : "") + "-" + std::to_string(serial++));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
};
