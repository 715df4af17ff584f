#include "foundation/system_facts.h"

#include <gtest/gtest.h>

#include <regex>

namespace qv {
namespace {

// The test prefix reports Windows 10; catches a gate that reads the
// manifest-dependent GetVersionEx instead.
TEST(SystemFacts, TestPrefixPassesTheGate) {
    EXPECT_TRUE(isWindows10OrNewer());
}

// Catches a description in another shape than the error report expects.
TEST(SystemFacts, DescribesWindows10WithBuildAndProcessor) {
    std::wstring text = describeOs();
    EXPECT_TRUE(std::regex_match(text, std::wregex(L"Windows (10\\.0|11) build [0-9]+ \\(x64\\)")))
        << text;
}

// Catches trailing line breaks kept and a missing fallback text.
TEST(WindowsErrorText, TrimsAndFallsBack) {
    std::wstring text = windowsErrorText(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), L'\n');
    EXPECT_NE(text.back(), L'\r');
    EXPECT_NE(text.back(), L' ');
    EXPECT_NE(text.find(L"ile not found"), std::wstring::npos) << text;
    EXPECT_EQ(windowsErrorText(0x2FFFFFFF), L"Error 805306367");
}

// This program never loads winhttp.dll, so its message table is not asked.
TEST(WindowsErrorText, WinHttpCodesNeedWinHttpLoaded) {
    ASSERT_EQ(GetModuleHandleW(L"winhttp.dll"), nullptr);
    EXPECT_EQ(windowsErrorText(12002), L"Error 12002");
}

}  // namespace
}  // namespace qv
