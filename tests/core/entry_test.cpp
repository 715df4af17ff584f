// Runs the real setup program as a child with its own temporary folder and
// reads what it logged.
#include "foundation/paths.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace qv {
namespace {

using test::TempFolder;

struct SetupRun {
    test::ChildResult result;
    std::string log;
};

SetupRun runSetup(const TempFolder& temp, const std::wstring& arguments,
                  const std::wstring& program = test::binFolder() + L"\\QuorvelAI-Setup.exe") {
    std::wstring line = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    SetupRun run;
    run.result = test::runChild(program, line, test::withTempFolder(temp.path(), 30000));
    run.log = test::readFile(temp / L"QuorvelAI-Setup.log");
    return run;
}

// A release server address that refuses at once: runs that reach the
// install branch fail there, without touching the network.
const std::wstring noServer = L"--base-url http://127.0.0.1:1";

bool has(const std::string& log, const std::string& text) { return log.find(text) != std::string::npos; }

// Catches a missing or misshapen run header.
TEST(Entry, WritesTheRunHeader) {
    TempFolder temp;
    SetupRun run = runSetup(temp, L"--silent --no-launch " + noServer);
    ASSERT_TRUE(run.result.finished);
    EXPECT_TRUE(has(run.log, "INFO  ---- QuorvelAI Setup 1.0.0 on Windows 10.0 build ")) << run.log;
    EXPECT_TRUE(has(run.log, "INFO  Command line: \"")) << run.log;
    EXPECT_TRUE(has(run.log, " --silent --no-launch --base-url http://127.0.0.1:1\r\n")) << run.log;
    EXPECT_TRUE(has(run.log, "INFO  Running from: ")) << run.log;
    EXPECT_TRUE(has(run.log, "QuorvelAI-Setup.exe\r\n")) << run.log;
}

// Catches command-line errors that do not end with exit code 3 or that
// still log the exit-code line.
TEST(Entry, BadCommandLineExitsWithThree) {
    struct Case { const wchar_t* arguments; const char* line; };
    const Case cases[] = {
        {L"--silent --Silent", "ERROR Unknown argument: --Silent\r\n"},
        {L"--silent --dir", "ERROR --dir needs a value\r\n"},
        {L"--silent --version 1.2.3.4.5", "ERROR Not a version: 1.2.3.4.5\r\n"},
        {L"--bogus", "ERROR Unknown argument: --bogus\r\n"},  // not silent: the box cannot show here
    };
    for (const auto& c : cases) {
        TempFolder temp;
        SetupRun run = runSetup(temp, c.arguments);
        ASSERT_TRUE(run.result.finished) << c.arguments;
        EXPECT_EQ(run.result.exitCode, 3u) << c.arguments;
        EXPECT_TRUE(has(run.log, c.line)) << run.log;
        EXPECT_FALSE(has(run.log, "Exit code")) << run.log;
    }
}

// Catches the dispatch not being reached, or its result not becoming the exit code.
TEST(Entry, HandsValidRunsToTheDispatch) {
    TempFolder temp;
    SetupRun run = runSetup(temp, L"--silent --squirrel-firstrun " + noServer + L" --dir \"" +
                                      (temp / L"root") + L"\"");
    ASSERT_TRUE(run.result.finished);
    EXPECT_EQ(run.result.exitCode, 1u);
    EXPECT_TRUE(has(run.log, "WARN  Ignoring Squirrel argument --squirrel-firstrun\r\n")) << run.log;
    EXPECT_TRUE(has(run.log, "INFO  Install folder: ")) << run.log;
    EXPECT_TRUE(has(run.log, "QV-NET-1")) << run.log;
    EXPECT_TRUE(has(run.log, "INFO  Exit code 1\r\n")) << run.log;
    EXPECT_FALSE(has(run.log, "QV-OS-1"));
}

// Catches a --language that is not matched like Windows' list, a tag
// that is not logged, and an unknown tag that stops the run.
TEST(Entry, LogsTheChosenLanguage) {
    TempFolder temp;
    SetupRun nearby = runSetup(temp, L"--silent --language pt-PT " + noServer);
    EXPECT_TRUE(has(nearby.log, "INFO  Language: pt-BR\r\n")) << nearby.log;
    TempFolder other;
    SetupRun unknown = runSetup(other, L"--silent --language xx-YY " + noServer);
    EXPECT_TRUE(has(unknown.log, "WARN  Language xx-YY is not available\r\n")) << unknown.log;
    EXPECT_TRUE(has(unknown.log, "INFO  Language: en\r\n")) << unknown.log;
    EXPECT_TRUE(has(unknown.log, "INFO  Exit code ")) << unknown.log;
}

// Catches the name check being case-sensitive or missing.
TEST(Entry, RunAsUninstallExeMeansUninstallMode) {
    TempFolder temp;
    std::wstring copy = temp / L"UNINSTALL.EXE";
    ASSERT_TRUE(CopyFileW((test::binFolder() + L"\\QuorvelAI-Setup.exe").c_str(), copy.c_str(), FALSE));
    std::wstring empty = temp / L"empty";
    test::makeFolders(empty);
    SetupRun run = runSetup(temp, L"--silent --uninstall-root \"" + empty + L"\"", copy);
    ASSERT_TRUE(run.result.finished);
    EXPECT_TRUE(has(run.log, "QV-UN-1")) << run.log;
    SetupRun plain = runSetup(temp, L"--silent " + noServer + L" --dir \"" + empty + L"\"");
    EXPECT_TRUE(has(plain.log, "INFO  Install folder: ")) << plain.log;
}

// These run in the Windows 7 prefix only (a ctest entry of their own).
class EntryOnWindows7 : public testing::Test {};

// Catches a gate that lets old Windows install, or that blocks an uninstall.
TEST_F(EntryOnWindows7, RefusesInstallButNotUninstall) {
    TempFolder temp;
    SetupRun install = runSetup(temp, L"--silent " + noServer);
    ASSERT_TRUE(install.result.finished);
    EXPECT_EQ(install.result.exitCode, 1u);
    EXPECT_TRUE(has(install.log, "ERROR QV-OS-1: Windows 10 or newer is needed\r\n")) << install.log;
    EXPECT_FALSE(has(install.log, "Exit code"));
    EXPECT_TRUE(has(install.log, "on Windows 6.1 build 7601 (x64)")) << install.log;

    TempFolder other;
    SetupRun uninstall = runSetup(other, L"--silent --uninstall --uninstall-root \"" + other.path() + L"\"");
    EXPECT_FALSE(has(uninstall.log, "QV-OS-1")) << uninstall.log;
    EXPECT_TRUE(has(uninstall.log, "QV-UN-1")) << uninstall.log;

    // Named Uninstall.exe but without --uninstall: the gate still applies.
    TempFolder third;
    std::wstring copy = third / L"Uninstall.exe";
    ASSERT_TRUE(CopyFileW((test::binFolder() + L"\\QuorvelAI-Setup.exe").c_str(), copy.c_str(), FALSE));
    SetupRun named = runSetup(third, L"--silent " + noServer, copy);
    EXPECT_EQ(named.result.exitCode, 1u);
    EXPECT_TRUE(has(named.log, "QV-OS-1")) << named.log;
}

}  // namespace
}  // namespace qv
