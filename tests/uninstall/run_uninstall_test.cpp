// runUninstall in this process on hand-made install roots, with the
// uninstall entry, the URL key, shortcuts and data folders saved and put
// back around each test.
#include "setup/uninstall/uninstall.h"

#include "setup/core/options.h"
#include "setup/core/progress.h"
#include "setup/core/setup_context.h"
#include "setup/core/setup_error.h"
#include "setup/core/timings.h"
#include "setup/install/registration.h"
#include "setup/install/shortcuts.h"

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "tests/support/temp_folder.h"
#include "tests/uninstall/user_state.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <memory>
#include <thread>
#include <vector>

namespace qv {
namespace {

using test::TempFolder;

constexpr const wchar_t* urlKey = L"Software\\Classes\\quorvel";
constexpr const wchar_t* urlCommandKey = L"Software\\Classes\\quorvel\\shell\\open\\command";

std::wstring roaming() { return knownFolder(FOLDERID_RoamingAppData, L"APPDATA"); }

bool exists(const std::wstring& path) { return isFile(path) || isFolder(path); }

// Everything one run of runUninstall needs, and the user state it touches.
class Uninstall : public ::testing::Test {
protected:
    void SetUp() override {
        savedTimings_ = timings();
        timings().removePauseMs = 20;
        timings().uninstallWaitPidMs = 2000;
        openLog(logPath_);
    }
    void TearDown() override {
        timings() = savedTimings_;
        for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
            DeleteFileW(longPath(*it).c_str());
            RemoveDirectoryW(longPath(*it).c_str());
        }
    }

    // The launcher, the uninstaller and one version, as an install leaves them.
    void makeInstall() {
        test::makeFolders(root_ + L"\\app-1.0.0");
        test::writeFile(root_ + L"\\app-1.0.0\\QuorvelAI.exe", "app");
        test::writeFile(root_ + L"\\QuorvelAI.exe", "launcher");
        test::writeFile(root_ + L"\\Uninstall.exe", "setup");
    }
    void registerAt(const std::wstring& folder) {
        test::setString(uninstallKeyPath, L"DisplayName", L"QuorvelAI");
        test::setString(uninstallKeyPath, L"InstallLocation", folder);
    }
    // A shortcut the test removes afterwards (and its folder when it made it).
    std::wstring shortcut(const std::wstring& folder, const std::wstring& name,
                          const std::wstring& target) {
        if (!isFolder(folder)) {
            test::makeFolders(folder);
            made_.push_back(folder);
        }
        std::wstring path = joinPath(folder, name);
        ShortcutSpec spec;
        spec.target = target;
        EXPECT_TRUE(writeShortcut(path, spec)) << path;
        made_.push_back(path);
        return path;
    }
    static std::wstring unique(const wchar_t* what) {
        wchar_t text[96];
        swprintf(text, 96, L"qv-uninstall-test-%lu-%ls", GetCurrentProcessId(), what);
        return text;
    }

    // The error code thrown, or "" for a run that finished.
    std::wstring run(bool removeData = false, uint32_t waitPid = 0) {
        SetupOptions options;
        options.uninstall = 1;
        options.silent = true;
        options.removeData = removeData;
        options.waitPid = waitPid;
        SetupContext context(options, &progress_, nullptr);
        try {
            runUninstall(context, root_);
        } catch (const SetupError& error) {
            error_ = error;
            return error.code;
        }
        lastWaitPid_ = context.waitPid;
        return L"";
    }
    std::string log() const { return test::readFile(logPath_); }
    bool logged(const std::wstring& line) const {
        return log().find(toUtf8Line(line)) != std::string::npos;
    }
    static std::string toUtf8Line(const std::wstring& text) {
        std::string bytes;
        int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
        bytes.resize(static_cast<size_t>(size));
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(),
                            size, nullptr, nullptr);
        return bytes;
    }

    ComApartment com_;  // for the shell links
    TempFolder temp_;
    std::wstring root_ = temp_ / L"Quorvel AI";
    std::wstring logPath_ = temp_ / L"uninstall.log";
    test::SavedKey entryKey_{uninstallKeyPath};
    test::SavedKey schemeKey_{urlKey};
    SilentProgress progress_;
    SetupError error_;
    uint32_t lastWaitPid_ = 1;
    Timings savedTimings_;
    std::vector<std::wstring> made_;
};

// Catches a check that lets an unregistered folder without an install
// through, or one that touches shortcuts or keys before failing.
TEST_F(Uninstall, AFolderWithoutAnInstallIsLeftAlone) {
    test::makeFolders(root_);
    test::writeFile(root_ + L"\\Uninstall.exe", "a file of the same name");
    registerAt(temp_ / L"elsewhere");
    std::wstring link = shortcut(desktopFolder(), unique(L"into.lnk"), root_ + L"\\QuorvelAI.exe");

    EXPECT_EQ(run(), L"QV-UN-1");
    EXPECT_EQ(error_.message, L"QuorvelAI is not installed in " + root_ + L".");
    EXPECT_EQ(error_.detail, L"");
    EXPECT_FALSE(error_.retryable);
    EXPECT_TRUE(isFile(root_ + L"\\Uninstall.exe"));
    EXPECT_TRUE(isFile(link));
    EXPECT_TRUE(test::keyExists(uninstallKeyPath));
}

// Catches a registered root whose files are already gone being refused,
// which would leave the entry behind for good.
TEST_F(Uninstall, FinishesARegisteredRootWhoseFilesAreGone) {
    test::makeFolders(root_);
    test::writeFile(root_ + L"\\notes.txt", "mine");
    registerAt(root_ + L"\\");

    EXPECT_EQ(run(), L"");
    EXPECT_FALSE(test::keyExists(uninstallKeyPath));
    EXPECT_TRUE(isFile(root_ + L"\\notes.txt"));
    EXPECT_EQ(lastWaitPid_, 0u);
}

// Catches owned files, shortcuts into the root or the entry left behind, a
// look-alike shortcut or a shared Start-menu folder removed, the Startup
// folder removed once emptied, or the user's entries not named in the log.
TEST_F(Uninstall, RemovesTheInstallAndKeepsWhatIsNotOurs) {
    makeInstall();
    test::writeFile(root_ + L"\\notes.txt", "mine");
    test::makeFolders(root_ + L"\\Projects");
    registerAt(root_);
    test::setString(urlCommandKey, nullptr, L"\"" + root_ + L"\\QuorvelAI.exe\" \"%1\"");

    std::wstring launcher = root_ + L"\\QuorvelAI.exe";
    std::wstring programs = programsFolder();
    std::wstring startup = startupFolder();
    std::wstring desktopInto = shortcut(desktopFolder(), unique(L"into.lnk"), launcher);
    std::wstring desktopTwin =
        shortcut(desktopFolder(), unique(L"twin.lnk"), root_ + L"2\\QuorvelAI.exe");
    std::wstring pinnedInto = shortcut(pinnedTaskbarFolder(), unique(L"pin.lnk"),
                                       root_ + L"\\app-1.0.0\\QuorvelAI.exe");
    std::wstring alone = joinPath(programs, unique(L"alone"));
    std::wstring aloneLink = shortcut(alone, L"QuorvelAI.lnk", launcher);
    std::wstring shared = joinPath(programs, unique(L"shared"));
    std::wstring sharedInto = shortcut(shared, L"QuorvelAI.lnk", launcher);
    std::wstring sharedOther = shortcut(shared, L"Other.lnk", temp_ / L"other\\x.exe");
    std::wstring startupInto = shortcut(startup, unique(L"autostart.lnk"), launcher);
    std::vector<std::wstring> startupBefore;
    for (const std::wstring& link : listShortcutFiles(startup, false))
        if (link != startupInto) startupBefore.push_back(link);

    EXPECT_EQ(run(), L"");
    EXPECT_FALSE(exists(root_ + L"\\app-1.0.0"));
    EXPECT_FALSE(exists(launcher));
    EXPECT_FALSE(exists(root_ + L"\\Uninstall.exe"));
    EXPECT_TRUE(isFile(root_ + L"\\notes.txt"));
    EXPECT_TRUE(isFolder(root_ + L"\\Projects"));
    EXPECT_FALSE(test::keyExists(uninstallKeyPath));
    EXPECT_FALSE(test::keyExists(urlKey));

    EXPECT_FALSE(isFile(desktopInto));
    EXPECT_TRUE(isFile(desktopTwin));
    EXPECT_FALSE(isFile(pinnedInto));
    EXPECT_FALSE(isFile(aloneLink));
    EXPECT_FALSE(isFolder(alone));
    EXPECT_FALSE(isFile(sharedInto));
    EXPECT_TRUE(isFile(sharedOther));
    EXPECT_FALSE(isFile(startupInto));
    EXPECT_TRUE(isFolder(startup));
    if (!isFolder(startup)) test::makeFolders(startup);  // the prefix needs it back
    for (const std::wstring& link : startupBefore) EXPECT_TRUE(isFile(link)) << link;

    EXPECT_TRUE(logged(L"INFO  Uninstalling " + root_ + L" (remove data: 0)\r\n"));
    EXPECT_TRUE(logged(L"INFO  Kept " + root_ + L"\\notes.txt: not installed by the setup\r\n"));
    EXPECT_TRUE(logged(L"INFO  Kept " + root_ + L"\\Projects: not installed by the setup\r\n"));
    EXPECT_TRUE(logged(L"INFO  Uninstall finished\r\n"));
}

// Catches another install's entry or URL key deleted because this root is a
// prefix of its folder.
TEST_F(Uninstall, KeepsTheEntryAndUrlKeyOfAnotherFolder) {
    makeInstall();
    registerAt(root_ + L"2");
    test::setString(urlCommandKey, nullptr, L"\"" + root_ + L"2\\QuorvelAI.exe\" \"%1\"");

    EXPECT_EQ(run(), L"");
    EXPECT_FALSE(exists(root_));
    EXPECT_TRUE(test::keyExists(uninstallKeyPath));
    EXPECT_TRUE(test::keyExists(urlKey));
}

// Catches a data folder left behind or a warning where nothing was there.
TEST_F(Uninstall, RemovesBothDataFoldersWhenAsked) {
    test::SavedFolder dashed(joinPath(roaming(), L"quorvel-ai"));
    test::SavedFolder plain(joinPath(roaming(), L"quorvelai"));
    makeInstall();
    test::makeFolders(joinPath(roaming(), L"quorvel-ai\\Settings"));
    test::writeFile(joinPath(roaming(), L"quorvel-ai\\Settings\\a.json"), "{}");
    test::makeFolders(parentFolder(attributionStampPath()));
    test::writeFile(attributionStampPath(), "{\"aid\":\"at_x\",\"source\":\"setup\"}\n");

    EXPECT_EQ(run(true), L"");
    EXPECT_FALSE(exists(joinPath(roaming(), L"quorvel-ai")));
    EXPECT_FALSE(exists(parentFolder(attributionStampPath())));
    EXPECT_TRUE(logged(L" (remove data: 1)\r\n"));
    EXPECT_FALSE(logged(L"Could not fully delete"));

    makeInstall();
    EXPECT_EQ(run(true), L"");
    EXPECT_FALSE(logged(L"Could not fully delete"));
}

// Catches data folders removed without being asked.
TEST_F(Uninstall, KeepsDataFoldersUnlessAsked) {
    test::SavedFolder plain(joinPath(roaming(), L"quorvelai"));
    makeInstall();
    test::makeFolders(joinPath(roaming(), L"quorvelai"));
    EXPECT_EQ(run(false), L"");
    EXPECT_TRUE(isFolder(joinPath(roaming(), L"quorvelai")));
}

// Catches giving up at the first failure, reporting success with files
// left, a detail other than the held file, or data folders kept because
// the root could not be removed.
TEST_F(Uninstall, AHeldFileEndsInUn2AfterEveryAttempt) {
    test::SavedFolder plain(joinPath(roaming(), L"quorvelai"));
    makeInstall();
    registerAt(root_);
    test::makeFolders(joinPath(roaming(), L"quorvelai"));
    std::wstring held = root_ + L"\\app-1.0.0\\QuorvelAI.exe";
    FileHandle handle(CreateFileW(longPath(held).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(handle);

    EXPECT_EQ(run(true), L"QV-UN-2");
    EXPECT_EQ(error_.message,
              L"Some QuorvelAI files could not be removed. Restart the PC and try again. They are "
              L"in " + root_);
    EXPECT_TRUE(equalsIgnoreCase(error_.detail, held)) << error_.detail;
    EXPECT_TRUE(logged(L"(attempt 5 of 5)"));
    EXPECT_FALSE(logged(L"(attempt 6 of"));
    EXPECT_FALSE(exists(root_ + L"\\Uninstall.exe"));
    EXPECT_FALSE(exists(joinPath(roaming(), L"quorvelai")));
    EXPECT_FALSE(logged(L"Uninstall finished"));
}

// Catches a removal that does not try again after a file is let go.
TEST_F(Uninstall, AFileHeldBrieflyGoesOnALaterAttempt) {
    makeInstall();
    timings().removePauseMs = 200;
    std::wstring held = root_ + L"\\QuorvelAI.exe";
    auto handle = std::make_shared<FileHandle>(CreateFileW(
        longPath(held).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(*handle);
    std::thread release([handle] {
        Sleep(300);
        handle->reset();
    });
    std::wstring code = run();
    release.join();
    EXPECT_EQ(code, L"");
    EXPECT_FALSE(exists(root_));
}

// Catches the handed-over uninstaller not being waited for, or its id kept
// for the running-app wait to wait on again.
TEST_F(Uninstall, WaitsForTheProcessThatHandedOver) {
    makeInstall();
    // A suspended child ended from another thread after a while stands in
    // for the uninstaller that is still closing.
    std::wstring program = test::binFolder() + L"\\uninstall_tests.exe";
    std::wstring line = L"x --gtest_list_tests";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE,
                               CREATE_SUSPENDED, nullptr, nullptr, &startup, &info));
    auto process = std::make_shared<KernelHandle>(info.hProcess);
    KernelHandle thread(info.hThread);
    std::thread ender([process] {
        Sleep(400);
        TerminateProcess(process->get(), 7);
    });

    std::wstring code = run(false, info.dwProcessId);
    bool endedBefore = WaitForSingleObject(process->get(), 0) == WAIT_OBJECT_0;
    ender.join();
    EXPECT_EQ(code, L"");
    EXPECT_TRUE(endedBefore);
    EXPECT_EQ(lastWaitPid_, 0u);
}

struct CommandCase {
    const wchar_t* command;
    const wchar_t* root;
    bool names;
};

// Catches a plain substring match (another install's key deleted), a
// case-sensitive match, or a root at the very end not recognised.
TEST(CommandNamesFolder, NeedsASeparatorAfterTheRoot) {
    const CommandCase cases[] = {
        {L"\"C:\\Apps\\Q\\QuorvelAI.exe\" \"%1\"", L"C:\\Apps\\Q", true},
        {L"C:\\Apps\\Q\\QuorvelAI.exe %1", L"C:\\Apps\\Q", true},
        {L"\"c:\\apps\\q\\x.exe\" %1", L"C:\\Apps\\Q", true},
        {L"\"C:\\Apps\\Q\" %1", L"C:\\Apps\\Q", true},
        {L"open C:\\Apps\\Q", L"C:\\Apps\\Q", true},
        {L"\"C:\\Apps\\Quorvel2\\x.exe\" %1", L"C:\\Apps\\Q", false},
        {L"\"C:\\Apps\\Q2\\x.exe\" C:\\Apps\\Q\\y.exe", L"C:\\Apps\\Q", true},
        {L"\"C:\\Apps\\Q.exe\" %1", L"C:\\Apps\\Q", false},
        {L"\"D:\\x.exe\"", L"C:\\Apps\\Q", false},
        {L"\"C:\\x.exe\"", L"C:\\", true},
        {L"", L"C:\\Apps\\Q", false},
    };
    for (const CommandCase& c : cases)
        EXPECT_EQ(commandNamesFolder(c.command, c.root), c.names) << c.command << L" / " << c.root;
}

}  // namespace
}  // namespace qv
