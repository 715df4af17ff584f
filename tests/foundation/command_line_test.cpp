#include "foundation/command_line.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace qv {
namespace {

// Catches arguments mangled on the way through a command line.
TEST(QuoteArgument, RoundTripsThroughCommandLineToArgvW) {
    const wchar_t* arguments[] = {
        L"plain",
        L"",
        L"with space",
        L"C:\\Program Files\\Folder\\",
        L"say \"hi\"",
        L"back\\\\\"quote",
        L"tab\there",
        L"trailing\\\\",
        L"\\\\server\\share with space\\",
        L"\"",
        L"a\\b\\c",
    };
    for (const wchar_t* argument : arguments) {
        std::wstring line = L"prog.exe " + quoteArgument(argument);
        std::vector<std::wstring> split = splitCommandLine(line.c_str());
        ASSERT_EQ(split.size(), 2u) << line;
        EXPECT_EQ(split[1], argument) << line;
    }
}

// Catches quoting where none is needed and the backslash rules themselves.
TEST(QuoteArgument, ExactForms) {
    EXPECT_EQ(quoteArgument(L"plain\\path"), L"plain\\path");
    EXPECT_EQ(quoteArgument(L""), L"\"\"");
    EXPECT_EQ(quoteArgument(L"C:\\My Folder\\"), L"\"C:\\My Folder\\\\\"");
    // Two backslashes before a quote become five.
    EXPECT_EQ(quoteArgument(L"a\\\\\"b"), L"\"a\\\\\\\\\\\"b\"");
}

// Catches an empty line giving no program element.
TEST(SplitCommandLine, EmptyLineIsOneProgramElement) {
    EXPECT_EQ(splitCommandLine(L""), (std::vector<std::wstring>{L"x"}));
    EXPECT_EQ(splitCommandLine(nullptr), (std::vector<std::wstring>{L"x"}));
    EXPECT_EQ(splitCommandLine(L"\"C:\\a b\\s.exe\" --dir \"C:\\x y\" -s"),
              (std::vector<std::wstring>{L"C:\\a b\\s.exe", L"--dir", L"C:\\x y", L"-s"}));
}

}  // namespace
}  // namespace qv
