// The real setup program as Uninstall.exe in hand-made install roots: the
// hand-over to the temporary copy, the removal, and the copy's self-delete.
#include "setup/install/registration.h"

#include "foundation/files.h"
#include "foundation/paths.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"
#include "tests/uninstall/user_state.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace qv {
namespace {

using test::TempFolder;

size_t count(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
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
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return true;
}

std::string narrow(const std::wstring& text) {
    std::string bytes;
    for (wchar_t c : text) bytes.push_back(static_cast<char>(c));  // the test paths are ASCII
    return bytes;
}

class UninstallProgram : public ::testing::Test {
protected:
    void TearDown() override {
        // Nothing the test started may outlive it, even when it failed.
        test::endProcessesUnder(temp_.path());
    }

    // An install root as a real install leaves it, with the user's notes.txt.
    void makeRoot(const std::wstring& root, const wchar_t* setupProgram) {
        test::makeFolders(root + L"\\app-1.0.0");
        test::writeFile(root + L"\\app-1.0.0\\QuorvelAI.exe", "app");
        ASSERT_TRUE(CopyFileW((test::binFolder() + L"\\QuorvelAI.exe").c_str(),
                              longPath(root + L"\\QuorvelAI.exe").c_str(), FALSE));
        ASSERT_TRUE(CopyFileW((test::binFolder() + L"\\" + setupProgram).c_str(),
                              longPath(root + L"\\Uninstall.exe").c_str(), FALSE));
        test::writeFile(root + L"\\notes.txt", "mine");
        test::setString(uninstallKeyPath, L"InstallLocation", root);
    }

    test::ChildResult start(const std::wstring& program, const std::wstring& arguments,
                            const std::wstring& tempDir) {
        test::makeFolders(tempDir);
        return test::runChild(program, L"\"" + program + L"\" " + arguments,
                              test::withTempFolder(tempDir, 30000));
    }

    // The shared log once the second process has written its exit line.
    std::string waitForCopy(const std::wstring& tempDir) {
        std::wstring logPath = tempDir + L"\\QuorvelAI-Setup.log";
        waitFor([&] { return count(test::readFile(logPath), "INFO  Exit code ") >= 2; }, 30000);
        return test::readFile(logPath);
    }

    TempFolder temp_;
    test::SavedKey entryKey_{uninstallKeyPath};
};

// Catches a first process that does the work itself or waits for the copy,
// options not passed on, the root's files or entry left behind, the user's
// file removed, or a temporary copy that stays.
TEST_F(UninstallProgram, HandsOverRemovesAndDeletesItsCopy) {
    std::wstring root = temp_ / L"Local Apps\\QuorvelAI";
    std::wstring tempDir = temp_ / L"Temp";
    makeRoot(root, L"QuorvelAI-Setup.exe");

    test::ChildResult first = start(root + L"\\Uninstall.exe", L"--silent --no-launch", tempDir);
    ASSERT_TRUE(first.finished);
    EXPECT_EQ(first.exitCode, 0u);
    std::string log = waitForCopy(tempDir);

    EXPECT_EQ(count(log, "INFO  Exit code 0\r\n"), 2u) << log;
    EXPECT_EQ(count(log, "INFO  Started "), 1u) << log;
    EXPECT_NE(log.find(" --uninstall --uninstall-root \"" + narrow(root) + "\" --wait-pid "),
              std::string::npos) << log;
    EXPECT_EQ(log.find("--no-launch", log.find("INFO  Started ")), std::string::npos) << log;
    EXPECT_NE(log.find("INFO  Kept " + narrow(root) + "\\notes.txt: not installed by the setup"),
              std::string::npos) << log;
    EXPECT_FALSE(isFile(root + L"\\Uninstall.exe"));
    EXPECT_FALSE(isFile(root + L"\\QuorvelAI.exe"));
    EXPECT_FALSE(isFolder(root + L"\\app-1.0.0"));
    EXPECT_TRUE(isFile(root + L"\\notes.txt"));
    EXPECT_FALSE(test::keyExists(uninstallKeyPath));
    EXPECT_TRUE(waitFor([&] { return !holdsTempCopy(tempDir); }, 15000));
}

// Catches a temporary copy that hands over again when the root it removes
// holds the temporary folder: copy after copy, and no uninstall.
TEST_F(UninstallProgram, ACopyInsideTheRootDoesNotHandOverAgain) {
    std::wstring root = temp_ / L"Profile";
    std::wstring tempDir = root + L"\\Temp";
    makeRoot(root, L"QuorvelAI-Setup-fast.exe");

    test::ChildResult first = start(root + L"\\Uninstall.exe", L"--silent", tempDir);
    ASSERT_TRUE(first.finished);
    EXPECT_EQ(first.exitCode, 0u);
    std::string log = waitForCopy(tempDir);

    EXPECT_EQ(count(log, "INFO  Started "), 1u) << log;
    EXPECT_EQ(count(log, "INFO  Exit code 0\r\n"), 2u) << log;
    EXPECT_NE(log.find("INFO  Kept " + narrow(root) + "\\Temp: not installed by the setup"),
              std::string::npos) << log;
    EXPECT_FALSE(isFile(root + L"\\Uninstall.exe"));
    EXPECT_TRUE(waitFor([&] { return !holdsTempCopy(tempDir); }, 15000));
}

// Catches files removed before the running app was waited for: its program
// stays locked and the run ends in QV-UN-2. Without a display the stand-in
// app has no window and is ended as a leftover helper.
TEST_F(UninstallProgram, WaitsForTheRunningAppBeforeRemovingIt) {
    std::wstring root = temp_ / L"QuorvelAI";
    std::wstring tempDir = temp_ / L"Temp";
    makeRoot(root, L"QuorvelAI-Setup-fast.exe");
    std::wstring app = root + L"\\app-1.0.0\\QuorvelAI.exe";
    ASSERT_TRUE(CopyFileW((test::binFolder() + L"\\qv-demo-app.exe").c_str(), longPath(app).c_str(),
                          FALSE));
    test::makeFolders(tempDir);
    test::RunningChild running =
        test::startChild(app, L"\"" + app + L"\"", test::withTempFolder(tempDir));
    ASSERT_TRUE(running.process);
    ASSERT_TRUE(waitFor([&] { return isFile(root + L"\\app-1.0.0\\demo-started.txt"); }, 10000));

    test::ChildResult first = start(root + L"\\Uninstall.exe", L"--silent", tempDir);
    ASSERT_TRUE(first.finished);
    std::string log = waitForCopy(tempDir);
    EXPECT_EQ(count(log, "INFO  Exit code 0\r\n"), 2u) << log;
    EXPECT_EQ(WaitForSingleObject(running.process.get(), 0), WAIT_OBJECT_0);
    EXPECT_FALSE(isFolder(root + L"\\app-1.0.0"));
}

// Catches a relaunch from outside the root, or a self-delete of a program
// that does not lie in the temporary folder.
TEST_F(UninstallProgram, RunsInPlaceFromOutsideTheRoot) {
    std::wstring root = temp_ / L"QuorvelAI";
    std::wstring tempDir = temp_ / L"Temp";
    std::wstring downloads = temp_ / L"Downloads";
    makeRoot(root, L"QuorvelAI-Setup.exe");
    test::makeFolders(downloads);
    std::wstring setup = downloads + L"\\QuorvelAI-Setup.exe";
    ASSERT_TRUE(CopyFileW((test::binFolder() + L"\\QuorvelAI-Setup.exe").c_str(),
                          longPath(setup).c_str(), FALSE));

    test::ChildResult run =
        start(setup, L"--silent --uninstall --uninstall-root \"" + root + L"\"", tempDir);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    std::string log = test::readFile(tempDir + L"\\QuorvelAI-Setup.log");
    EXPECT_EQ(count(log, "INFO  Started "), 0u) << log;
    EXPECT_NE(log.find("INFO  Uninstall finished"), std::string::npos) << log;
    EXPECT_FALSE(isFile(root + L"\\Uninstall.exe"));
    Sleep(3500);
    EXPECT_TRUE(isFile(setup));
}

}  // namespace
}  // namespace qv
