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

// Catches the Windows 11 rule off by one build or applied to other major
// versions, and an architecture shown under another's name.
TEST(SystemFacts, OsDescriptionTable) {
    struct Case {
        DWORD major, minor, build;
        WORD architecture;
        const wchar_t* expected;
    } cases[] = {
        {10, 0, 21999, PROCESSOR_ARCHITECTURE_AMD64, L"Windows 10.0 build 21999 (x64)"},
        {10, 0, 22000, PROCESSOR_ARCHITECTURE_AMD64, L"Windows 11 build 22000 (x64)"},
        {10, 0, 26100, PROCESSOR_ARCHITECTURE_ARM64, L"Windows 11 build 26100 (arm64)"},
        {10, 0, 19045, PROCESSOR_ARCHITECTURE_INTEL, L"Windows 10.0 build 19045 (x86)"},
        {6, 1, 22000, PROCESSOR_ARCHITECTURE_AMD64, L"Windows 6.1 build 22000 (x64)"},
        {10, 0, 17763, PROCESSOR_ARCHITECTURE_ARM, L"Windows 10.0 build 17763 (other)"},
        {10, 0, 17763, PROCESSOR_ARCHITECTURE_UNKNOWN, L"Windows 10.0 build 17763 (other)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(osDescription(c.major, c.minor, c.build, c.architecture), c.expected);
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

// Catches the module's message table never asked (or asked as the
// system's), and its text kept with the table's line break. The test
// program's own table stands in for WinHTTP's, which Wine lacks.
TEST(WindowsErrorText, AsksTheModulesMessageTable) {
    HMODULE self = GetModuleHandleW(nullptr);
    EXPECT_EQ(windowsErrorText(12002, self), L"A text from the test message table.");
    EXPECT_EQ(windowsErrorText(12003, self), L"Error 12003");
    EXPECT_EQ(windowsErrorText(12002, nullptr), L"Error 12002");
    // The system's text comes first.
    EXPECT_EQ(windowsErrorText(ERROR_FILE_NOT_FOUND, self), windowsErrorText(ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace qv
