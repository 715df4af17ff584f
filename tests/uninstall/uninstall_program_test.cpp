// The real setup program as Uninstall.exe in hand-made install roots: the
// hand-over to the temporary copy, the removal, and the copy's self-delete.
#include "setup/install/registration.h"

#include "foundation/files.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"
#include "tests/uninstall/user_state.h"

#include <gtest/gtest.h>

#include <functional>
#include <utility>

namespace qv {
namespace {

size_t count(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++found;
    return found;
}

bool waitFor(const std::function<bool()>& done, DWORD ms) {
    for (ULONGLONG end = GetTickCount64() + ms; GetTickCount64() < end; Sleep(100))
        if (done()) return true;
    return done();
}

bool holdsTempCopy(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(longPath(folder + L"\\QuorvelAI-Uninstall-*.exe").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    return find != INVALID_HANDLE_VALUE;
}

class UninstallProgram : public ::testing::Test {
protected:
    void TearDown() override { test::endProcessesUnder(temp_.path()); }

    // An install as a real one leaves it, the user's notes.txt beside it.
    void makeRoot(const wchar_t* setupProgram, const wchar_t* app = L"QuorvelAI.exe") {
        test::makeFolders(root_ + L"\\app-1.0.0");
        test::makeFolders(tempDir_);
        const std::pair<const wchar_t*, const wchar_t*> copies[] = {
            {app, L"app-1.0.0\\QuorvelAI.exe"},
            {L"QuorvelAI.exe", L"QuorvelAI.exe"},
            {setupProgram, L"Uninstall.exe"}};
        for (auto [from, to] : copies)
            ASSERT_TRUE(CopyFileW(joinPath(test::binFolder(), from).c_str(),
                                  longPath(joinPath(root_, to)).c_str(), FALSE));
        test::writeFile(root_ + L"\\notes.txt", "mine");
        test::setString(uninstallKeyPath, L"InstallLocation", root_);
    }
    // Runs program and returns the shared log once it holds want exit lines.
    std::string run(const std::wstring& program, const std::wstring& arguments, size_t want = 2) {
        test::ChildResult first = test::runChild(program, L"\"" + program + L"\" " + arguments,
                                                 test::withTempFolder(tempDir_, 30000));
        EXPECT_TRUE(first.finished);
        EXPECT_EQ(first.exitCode, 0u);
        std::wstring logPath = tempDir_ + L"\\QuorvelAI-Setup.log";
        waitFor([&] { return count(test::readFile(logPath), "INFO  Exit code ") >= want; }, 30000);
        return test::readFile(logPath);
    }
    std::string kept(const std::wstring& name) {
        return toUtf8(L"INFO  Kept " + root_ + L"\\" + name + L": not installed by the setup");
    }

    test::TempFolder temp_;
    std::wstring root_ = temp_ / L"Local Apps\\QuorvelAI";
    std::wstring tempDir_ = temp_ / L"Temp";
    test::SavedKey entryKey_{uninstallKeyPath};
    test::SavedFolder data_{parentFolder(attributionStampPath())};
    test::SavedFolder dashedData_{joinPath(parentFolder(parentFolder(attributionStampPath())),
                                           L"quorvel-ai")};
};

// Catches a first process that removes files itself or waits for the copy,
// options lost on the way, files or the entry left, the user's file
// removed, or a temporary copy that stays.
TEST_F(UninstallProgram, HandsOverRemovesAndDeletesItsCopy) {
    makeRoot(L"QuorvelAI-Setup.exe");
    std::string log = run(root_ + L"\\Uninstall.exe", L"--silent --remove-data --no-launch");

    EXPECT_EQ(count(log, "INFO  Exit code 0\r\n"), 2u) << log;
    size_t started = log.find("INFO  Started ");
    EXPECT_EQ(count(log, "INFO  Started "), 1u) << log;
    EXPECT_NE(log.find(toUtf8(L" --uninstall --uninstall-root \"" + root_ +
                              L"\" --wait-pid ")), std::string::npos) << log;
    EXPECT_NE(log.find("--silent --remove-data\r\n", started), std::string::npos) << log;
    EXPECT_EQ(log.find("--no-launch", started), std::string::npos) << log;
    EXPECT_NE(log.find(kept(L"notes.txt")), std::string::npos) << log;
    for (const wchar_t* name : {L"Uninstall.exe", L"QuorvelAI.exe", L"app-1.0.0"})
        EXPECT_FALSE(isFile(joinPath(root_, name)) || isFolder(joinPath(root_, name))) << name;
    EXPECT_FALSE(test::keyExists(uninstallKeyPath));
    EXPECT_TRUE(waitFor([&] { return !holdsTempCopy(tempDir_); }, 15000));
}

// Catches a temporary copy that hands over again when the root it removes
// holds the temporary folder: copy after copy, and no uninstall.
TEST_F(UninstallProgram, ACopyInsideTheRootDoesNotHandOverAgain) {
    tempDir_ = root_ + L"\\Temp";
    makeRoot(L"QuorvelAI-Setup-fast.exe");
    std::string log = run(root_ + L"\\Uninstall.exe", L"--silent");

    EXPECT_EQ(count(log, "INFO  Started "), 1u) << log;
    EXPECT_EQ(count(log, "INFO  Exit code 0\r\n"), 2u) << log;
    EXPECT_NE(log.find(kept(L"Temp")), std::string::npos) << log;
    EXPECT_FALSE(isFile(root_ + L"\\Uninstall.exe"));
    EXPECT_TRUE(waitFor([&] { return !holdsTempCopy(tempDir_); }, 15000));
}

// Catches files removed before the running app was waited for: its program
// stays locked and the run ends in QV-UN-2. Without a display the stand-in
// app has no window and is ended as a leftover helper.
TEST_F(UninstallProgram, WaitsForTheRunningAppBeforeRemovingIt) {
    makeRoot(L"QuorvelAI-Setup-fast.exe", L"qv-demo-app.exe");
    std::wstring app = root_ + L"\\app-1.0.0\\QuorvelAI.exe";
    test::RunningChild running = test::startChild(app, L"\"" + app + L"\"");
    ASSERT_TRUE(running.process);
    ASSERT_TRUE(waitFor([&] { return isFile(root_ + L"\\app-1.0.0\\demo-started.txt"); }, 10000));

    std::string log = run(root_ + L"\\Uninstall.exe", L"--silent");
    EXPECT_EQ(count(log, "INFO  Exit code 0\r\n"), 2u) << log;
    EXPECT_EQ(WaitForSingleObject(running.process.get(), 0), WAIT_OBJECT_0);
    EXPECT_FALSE(isFolder(root_ + L"\\app-1.0.0"));
}

// Catches a relaunch from outside the root, or a program outside the
// temporary folder deleting itself afterwards.
TEST_F(UninstallProgram, RunsInPlaceFromOutsideTheRoot) {
    makeRoot(L"QuorvelAI-Setup.exe");
    std::wstring setup = temp_ / L"QuorvelAI-Setup.exe";
    ASSERT_TRUE(CopyFileW((test::binFolder() + L"\\QuorvelAI-Setup.exe").c_str(),
                          longPath(setup).c_str(), FALSE));
    std::string log = run(setup, L"--silent --uninstall --uninstall-root \"" + root_ + L"\"", 1);

    EXPECT_EQ(count(log, "INFO  Started "), 0u) << log;
    EXPECT_NE(log.find("INFO  Uninstall finished"), std::string::npos) << log;
    Sleep(3500);  // longer than the self-delete's pause
    EXPECT_TRUE(isFile(setup));
}

}  // namespace
}  // namespace qv
