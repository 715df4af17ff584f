#include "foundation/log.h"

#include "foundation/files.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

namespace qv {
namespace {

using test::TempFolder;

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

class LogTest : public testing::Test {
protected:
    TempFolder temp;
    std::wstring path = temp / L"test.log";
    // Close the process-wide log before the folder goes; a log left open
    // inside it would keep the folder on disk.
    void TearDown() override { openLog(L""); }
};

// Catches a wrong prefix shape, level padding or line ending.
TEST_F(LogTest, LinesHaveTheFixedPrefixAndLevelWords) {
    openLog(path);
    EXPECT_EQ(currentLogPath(), path);
    logInfo(L"hello %ls %d", L"world", 42);
    logWarn(L"careful");
    logError(L"broken: %hs", "narrow");
    std::string text = test::readFile(path);
    std::vector<std::string> lines = linesOf(text);
    ASSERT_EQ(lines.size(), 3u) << text;
    std::string stamp = "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} \\[" +
                        std::to_string(GetCurrentProcessId()) + "\\] ";
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(stamp + "INFO  hello world 42"))) << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(stamp + "WARN  careful"))) << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(stamp + "ERROR broken: narrow"))) << lines[2];
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

// Catches ASCII-only conversion and messages cut at a buffer size.
TEST_F(LogTest, WritesUtf8AndLongMessagesWhole) {
    openLog(path);
    logInfo(L"Install folder: C:\\Users\\Zo\u00eb\\\u65e5\u672c");
    std::wstring longMessage(2000, L'm');
    logInfo(L"%ls", longMessage.c_str());
    std::string text = test::readFile(path);
    EXPECT_NE(text.find("C:\\Users\\Zo\xc3\xab\\\xe6\x97\xa5\xe6\x9c\xac\r\n"), std::string::npos);
    EXPECT_NE(text.find(std::string(2000, 'm') + "\r\n"), std::string::npos);
}

// Catches a message with line breaks getting prefixes on its continuation lines.
TEST_F(LogTest, MultiLineMessageIsWrittenAsItIs) {
    openLog(path);
    logError(L"%ls", L"first\r\nsecond\r\nthird");
    std::string text = test::readFile(path);
    EXPECT_NE(text.find("ERROR first\r\nsecond\r\nthird\r\n"), std::string::npos);
}

// Catches the size rule being off by one in either direction.
TEST_F(LogTest, ExactlyTwoMebibytesIsKeptWhole) {
    std::string content(2097152, 'a');
    test::writeFile(path, content);
    openLog(path);
    logInfo(L"after");
    std::string text = test::readFile(path);
    EXPECT_GT(text.size(), 2097152u);
    EXPECT_EQ(text.compare(0, 2097152, content), 0);
}

// Catches a cut that keeps the wrong end or the wrong amount.
TEST_F(LogTest, OneByteMoreIsCutToTheLastHalfMebibyte) {
    std::string content(2097153 - 524288, 'a');
    content += std::string(524288, 'z');
    test::writeFile(path, content);
    openLog(path);
    logInfo(L"after");
    std::string text = test::readFile(path);
    ASSERT_GT(text.size(), 524288u);
    EXPECT_EQ(text.compare(0, 524288, std::string(524288, 'z')), 0);
    // Only the new line follows the kept tail: an open without the cut, or a
    // cut that appends instead of replacing, leaves more.
    size_t line = text.find("INFO  after\r\n", 524288);
    ASSERT_NE(line, std::string::npos);
    EXPECT_EQ(text.size(), line + 13);
    EXPECT_LT(line - 524288, 64u);
}

// Catches an empty path that leaves the old file open: its folder could not
// be removed, which is how test folders were left behind in TEMP.
TEST_F(LogTest, EmptyPathClosesTheFile) {
    openLog(path);
    logInfo(L"before");
    openLog(L"");
    logInfo(L"after");
    EXPECT_TRUE(currentLogPath().empty());
    EXPECT_EQ(test::readFile(path).find("after"), std::string::npos);
    EXPECT_TRUE(DeleteFileW(path.c_str())) << GetLastError();
}

// Catches a log whose state is destroyed at exit: a line written after that
// (by a static destructor here, by a worker thread still ending in the
// program) would be lost or touch freed memory.
TEST_F(LogTest, LinesWrittenWhileTheProgramEndsAreKept) {
    std::wstring child = test::binFolder() + L"\\log-at-exit-child.exe";
    test::ChildResult result = test::runChild(child, L"child \"" + path + L"\"");
    ASSERT_TRUE(result.started && result.finished);
    EXPECT_EQ(result.exitCode, 0u);
    std::vector<std::string> lines = linesOf(test::readFile(path));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("INFO  from main"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("INFO  from a static destructor"), std::string::npos) << lines[1];
}

// Catches appending into a re-opened file that replaced the old content.
TEST_F(LogTest, ReopeningAppends) {
    openLog(path);
    logInfo(L"one");
    openLog(path);
    logInfo(L"two");
    EXPECT_EQ(linesOf(test::readFile(path)).size(), 2u);
}

// Catches unguarded writes: lines from several threads must never interleave.
TEST_F(LogTest, LinesFromManyThreadsStayWhole) {
    openLog(path);
    constexpr int threads = 8, perThread = 200;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t] {
            std::wstring filler(100 + t * 37, static_cast<wchar_t>(L'a' + t));
            for (int i = 0; i < perThread; ++i) logInfo(L"T%d #%d %ls", t, i, filler.c_str());
        });
    }
    for (auto& worker : workers) worker.join();

    std::vector<std::string> lines = linesOf(test::readFile(path));
    ASSERT_EQ(lines.size(), static_cast<size_t>(threads * perThread));
    std::set<std::string> seen;
    std::regex shape(".* INFO  T([0-9]) #([0-9]+) ([a-z]+)");
    for (const std::string& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
        int t = std::stoi(match[1]);
        EXPECT_EQ(match[3].str(), std::string(100 + t * 37, static_cast<char>('a' + t)));
        seen.insert(match[1].str() + "/" + match[2].str());
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(threads * perThread));
}

// Several processes appending at once is left to the append-only handle:
// Windows makes each such write atomic, but Wine does not (lines from two
// processes get lost there), so it cannot be tested under Wine.

// Catches a log that fails loudly: an unopenable path just receives nothing.
TEST_F(LogTest, UnopenablePathIsIgnored) {
    openLog(temp / L"missing-folder\\x.log");
    logError(L"goes nowhere");
    EXPECT_FALSE(isFile(temp / L"missing-folder\\x.log"));
}

}  // namespace
}  // namespace qv
