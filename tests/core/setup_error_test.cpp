#include "setup/core/setup_error.h"

#include "foundation/log.h"
#include "foundation/system_facts.h"
#include "setup/core/progress.h"
#include "setup/core/setup_context.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

using test::TempFolder;

class SetupErrorTest : public testing::Test {
protected:
    TempFolder temp;
    std::wstring logPath = temp / L"setup.log";
    void SetUp() override { openLog(logPath); }
    void TearDown() override { openLog(L""); }
    std::string logText() { return test::readFile(logPath); }
};

// Catches an error that is raised without leaving its ERROR line.
TEST_F(SetupErrorTest, ConstructionWritesOneErrorLine) {
    SetupError error(L"QV-NET-1", L"Could not reach.", L"http://x\nfailed", true);
    EXPECT_EQ(error.code, L"QV-NET-1");
    EXPECT_TRUE(error.retryable);
    EXPECT_NE(logText().find("ERROR QV-NET-1: Could not reach. http://x\nfailed\r\n"),
              std::string::npos)
        << logText();
}

// Catches a cancellation that logs as a failure or is not retryable.
TEST_F(SetupErrorTest, CancellationIsQuietAndRetryable) {
    SetupError error = SetupError::cancelled();
    EXPECT_EQ(error.code, L"QV-CANCEL");
    EXPECT_EQ(error.message, L"Setup was cancelled.");
    EXPECT_TRUE(error.detail.empty());
    EXPECT_TRUE(error.retryable);
    EXPECT_EQ(logText().find("ERROR"), std::string::npos);
}

class FlagProgress : public Progress {
public:
    bool cancelled = false;
    void setStatus(const std::wstring&) override {}
    void setProgress(double) override {}
    void setDetail(const std::wstring&) override {}
    bool isCancelled() override { return cancelled; }
    bool keepWaitingForApp() override { return false; }
};

// Catches checkCancelled throwing when nobody asked, or something else than QV-CANCEL.
TEST_F(SetupErrorTest, CheckCancelledThrowsOnlyWhenAsked) {
    FlagProgress progress;
    SetupContext context(SetupOptions{}, &progress, nullptr);
    EXPECT_NO_THROW(checkCancelled(context));
    progress.cancelled = true;
    try {
        checkCancelled(context);
        FAIL() << "no error thrown";
    } catch (const SetupError& error) {
        EXPECT_EQ(error.code, L"QV-CANCEL");
    }
    EXPECT_EQ(logText().find("ERROR"), std::string::npos);
}

std::vector<std::wstring> reportLines(const std::wstring& report) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = report.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
        lines.push_back(report.substr(start, end - start));
    EXPECT_EQ(start, report.size()) << "report must end in CR LF";
    return lines;
}

// Catches missing or reordered report lines.
TEST_F(SetupErrorTest, ReportHasNineLinesWithEverything) {
    SetupError error(L"QV-DIR-2", L"The setup cannot create the install folder.",
                     L"C:\\x: denied\nsecond line", false);
    std::vector<std::wstring> lines = reportLines(errorReport(error, L"C:\\Apps\\Q", L"1.2.3"));
    std::vector<std::wstring> expected = {
        L"QuorvelAI Setup 1.0.0",
        L"Error: QV-DIR-2",
        L"The setup cannot create the install folder.",
        L"Details: C:\\x: denied",
        L"second line",
        L"System: " + describeOs(),
        L"Install folder: C:\\Apps\\Q",
        L"Version: 1.2.3",
        L"Log: " + logPath,
    };
    EXPECT_EQ(lines, expected);
}

// Catches doubled CRs or lost lines when details come with mixed line ends.
TEST_F(SetupErrorTest, DetailLineEndsAreNormalised) {
    SetupError lf(L"QV-X-1", L"m", L"a\nb", false);
    SetupError crlf(L"QV-X-1", L"m", L"a\r\nb", false);
    SetupError loneCr(L"QV-X-1", L"m", L"a\rb", false);
    EXPECT_EQ(errorReport(lf, L"", L""), errorReport(crlf, L"", L""));
    EXPECT_NE(errorReport(loneCr, L"", L"").find(L"Details: ab\r\n"), std::wstring::npos);
}

// Catches a report that names an empty folder or version, or has a Details line for none.
TEST_F(SetupErrorTest, EmptyPartsAreLeftOut) {
    std::vector<std::wstring> lines = reportLines(errorReport(SetupError::cancelled(), L"", L""));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1], L"Error: QV-CANCEL");
    EXPECT_EQ(lines[3].compare(0, 8, L"System: "), 0);
    EXPECT_EQ(lines[4], L"Log: " + logPath);
}

// Catches a silent status line that treats its text as a format.
TEST_F(SetupErrorTest, SilentProgressLogsStatusOnly) {
    SilentProgress progress;
    progress.setStatus(L"Downloading 100% %ls\u2026");
    progress.setProgress(0.5);
    progress.setDetail(L"1.0 MB of 2.0 MB");
    progress.setStatus(L"Finishing\u2026");
    EXPECT_FALSE(progress.isCancelled());
    EXPECT_FALSE(progress.keepWaitingForApp());
    std::string text = logText();
    size_t first = text.find("INFO  Downloading 100% %ls\xe2\x80\xa6\r\n");
    size_t second = text.find("INFO  Finishing\xe2\x80\xa6\r\n");
    EXPECT_NE(first, std::string::npos) << text;
    EXPECT_NE(second, std::string::npos) << text;
    EXPECT_LT(first, second);
    EXPECT_EQ(text.find("MB"), std::string::npos);
}

// Catches a context that does not copy the options or starts with stale release fields.
TEST(SetupContext, CopiesOptionsAndStartsEmpty) {
    SetupOptions options;
    options.silent = true;
    options.waitPid = 77;
    options.dir = L"C:\\Q";
    options.version = L"1.2.3";
    FlagProgress progress;
    SetupContext context(options, &progress, nullptr);
    EXPECT_TRUE(context.silent);
    EXPECT_EQ(context.waitPid, 77u);
    EXPECT_EQ(context.dir, L"C:\\Q");
    EXPECT_EQ(context.version, L"1.2.3");
    EXPECT_EQ(context.baseUrl, options.baseUrl);
    EXPECT_EQ(context.progress, &progress);
    EXPECT_FALSE(context.releaseKnown);
    EXPECT_EQ(context.payloadSize, 0u);
    EXPECT_TRUE(context.payloadSha256.empty());
}

}  // namespace
}  // namespace qv
