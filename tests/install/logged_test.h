// A test whose log lines go to a file of its own, for checking what a step
// reported.
#pragma once

#include "foundation/log.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <string>

namespace qv::test {

class LoggedTest : public testing::Test {
protected:
    TempFolder temp;
    std::wstring logPath = temp / L"setup.log";

    void SetUp() override { openLog(logPath); }
    void TearDown() override { openLog(temp / L"closing.log"); }

    std::string logText() const { return readFile(logPath); }
    // How many lines hold needle.
    size_t logLines(const std::string& needle) const {
        std::string text = logText();
        size_t count = 0;
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
            ++count;
        return count;
    }
};

}  // namespace qv::test
