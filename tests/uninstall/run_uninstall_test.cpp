// runUninstall in this process on hand-made install roots; the uninstall
// entry, the URL key and the data folders are put back afterwards.
#include "setup/uninstall/uninstall.h"

#include "setup/core/progress.h"
#include "setup/core/setup_error.h"
#include "setup/core/timings.h"
#include "setup/install/install_layout.h"
#include "setup/install/registration.h"
#include "setup/install/shortcuts.h"

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "tests/support/held_run_lock.h"
#include "tests/support/temp_folder.h"
#include "tests/uninstall/user_state.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace qv {
namespace {

constexpr const wchar_t* urlKey = L"Software\\Classes\\quorvel";
const std::wstring urlCommandKey = std::wstring(urlKey) + L"\\shell\\open\\command";
std::wstring dataFolder() { return parentFolder(attributionStampPath()); }
std::wstring dashedDataFolder() { return joinPath(parentFolder(dataFolder()), L"quorvel-ai"); }

class Uninstall : public ::testing::Test {
protected:
    void SetUp() override {
        timings().removePauseMs = 20;
        openLog(temp_ / L"test.log");
        test::makeFolders(root_ + L"\\app-1.0.0");
        for (const wchar_t* file :
             {L"app-1.0.0\\QuorvelAI.exe", L"QuorvelAI.exe", L"Uninstall.exe"})
            test::writeFile(joinPath(root_, file), "ours");
    }
    void TearDown() override {
        timings() = Timings();
        folderListGate() = nullptr;
        for (auto it = made_.rbegin(); it != made_.rend(); ++it)
            if (!DeleteFileW(longPath(*it).c_str())) RemoveDirectoryW(longPath(*it).c_str());
    }
    void registerAt(const std::wstring& folder) {
        test::setString(uninstallKeyPath, L"InstallLocation", folder);
    }
    // A link the test removes afterwards, with its folder when it made that.
    std::wstring shortcut(const std::wstring& folder, const std::wstring& name,
                          const std::wstring& target) {
        if (!isFolder(folder)) made_.push_back(folder);
        std::wstring path = joinPath(folder, formatText(L"qv-%lu-%ls", GetCurrentProcessId(),
                                                        name.c_str()));
        ShortcutSpec spec;
        spec.target = target;
        EXPECT_TRUE(writeShortcut(path, spec)) << path;
        made_.push_back(path);
        return path;
    }
    // The error code thrown, or "" for a run that finished.
    std::wstring run(bool removeData = false, uint32_t waitPid = 0) {
        SetupOptions options;
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
        EXPECT_EQ(context.waitPid, 0u);  // the running-app wait must not wait for it again
        return L"";
    }
    bool logged(const std::wstring& text) {
        return test::readFile(temp_ / L"test.log").find(toUtf8(text)) != std::string::npos;
    }

    ComApartment com_;
    test::TempFolder temp_;
    std::wstring root_ = temp_ / L"Quorvel AI";
    test::SavedKey entryKey_{uninstallKeyPath};
    test::SavedKey schemeKey_{urlKey};
    test::SavedFolder data_{dataFolder()};
    test::SavedFolder dashedData_{dashedDataFolder()};
    SilentProgress progress_;
    SetupError error_;
    std::vector<std::wstring> made_;
};

// Catches an unregistered folder without an install let through, or
// shortcuts, keys or files touched before the refusal.
TEST_F(Uninstall, AFolderWithoutAnInstallIsLeftAlone) {
    DeleteFileW(longPath(root_ + L"\\app-1.0.0\\QuorvelAI.exe").c_str());
    registerAt(temp_ / L"elsewhere");
    std::wstring link = shortcut(desktopFolder(), L"into.lnk", root_ + L"\\QuorvelAI.exe");

    EXPECT_EQ(run(), L"QV-UN-1");
    EXPECT_EQ(error_.message, L"QuorvelAI is not installed in " + root_ + L".");
    EXPECT_EQ(error_.detail, L"");
    EXPECT_TRUE(isFile(root_ + L"\\Uninstall.exe"));
    EXPECT_TRUE(isFile(link));
    EXPECT_TRUE(test::keyExists(uninstallKeyPath));
}

// Catches a registered root whose versions are gone being refused (the
// entry would stay for good), and another install's entry or URL key
// deleted because this root is a prefix of its folder.
TEST_F(Uninstall, TellsThisRootFromAnother) {
    DeleteFileW(longPath(root_ + L"\\app-1.0.0\\QuorvelAI.exe").c_str());
    registerAt(root_ + L"\\");
    EXPECT_EQ(run(), L"");
    EXPECT_FALSE(test::keyExists(uninstallKeyPath));

    SetUp();
    registerAt(root_ + L"2");
    test::setString(urlCommandKey, nullptr, L"\"" + root_ + L"2\\QuorvelAI.exe\" \"%1\"");
    EXPECT_EQ(run(), L"");
    EXPECT_TRUE(test::keyExists(uninstallKeyPath));
    EXPECT_TRUE(test::keyExists(urlKey));
}

// Catches owned files, shortcuts into the root, the entry or the URL key
// left; a look-alike shortcut, a shared Start-menu folder, the Startup
// folder or the data folder removed; the user's entries not logged.
TEST_F(Uninstall, RemovesTheInstallAndKeepsWhatIsNotOurs) {
    test::writeFile(root_ + L"\\notes.txt", "mine");
    test::makeFolders(root_ + L"\\Projects");
    test::makeFolders(dataFolder());
    registerAt(root_);
    test::setString(urlCommandKey, nullptr, L"\"" + root_ + L"\\QuorvelAI.exe\" \"%1\"");
    std::wstring launcher = root_ + L"\\QuorvelAI.exe";
    std::wstring alone = joinPath(programsFolder(), L"qv-alone");
    std::wstring shared = joinPath(programsFolder(), L"qv-shared");
    std::wstring gone[] = {
        shortcut(desktopFolder(), L"into.lnk", launcher),
        shortcut(pinnedTaskbarFolder(), L"pin.lnk", root_ + L"\\app-1.0.0\\QuorvelAI.exe"),
        shortcut(alone, L"a.lnk", launcher), alone,
        shortcut(shared, L"a.lnk", launcher),
        shortcut(startupFolder(), L"autostart.lnk", launcher),
        root_ + L"\\app-1.0.0", launcher, root_ + L"\\Uninstall.exe"};
    std::wstring kept[] = {shortcut(desktopFolder(), L"twin.lnk", root_ + L"2\\QuorvelAI.exe"),
                           shortcut(shared, L"other.lnk", temp_ / L"x.exe"), startupFolder(),
                           root_ + L"\\notes.txt", root_ + L"\\Projects", dataFolder()};

    EXPECT_EQ(run(), L"");
    for (const std::wstring& path : gone) EXPECT_FALSE(isFile(path) || isFolder(path)) << path;
    for (const std::wstring& path : kept) EXPECT_TRUE(isFile(path) || isFolder(path)) << path;
    if (!isFolder(startupFolder())) test::makeFolders(startupFolder());  // the prefix needs it
    EXPECT_FALSE(test::keyExists(uninstallKeyPath));
    EXPECT_FALSE(test::keyExists(urlKey));
    EXPECT_TRUE(logged(L"INFO  Uninstalling " + root_ + L" (remove data: 0)\r\n"));
    EXPECT_TRUE(logged(L"INFO  Kept " + root_ + L"\\notes.txt: not installed by the setup\r\n"));
    EXPECT_TRUE(logged(L"INFO  Kept " + root_ + L"\\Projects: not installed by the setup\r\n"));
    EXPECT_TRUE(logged(L"INFO  Uninstall finished\r\n"));
}

// Catches giving up early, success reported with files left, a detail other
// than the held file, the entries after it left, or data folders kept
// because the root could not be removed.
//
// Then catches the entry or Uninstall.exe gone while a file stays (after a
// restart nothing could start the uninstall again), and a rerun refused
// because the program files are gone, or removing what is not ours.
TEST_F(Uninstall, AHeldFileEndsInUn2AfterEveryAttempt) {
    test::makeFolders(dashedDataFolder() + L"\\Settings");
    test::makeFolders(dataFolder());
    test::writeFile(attributionStampPath(), "{}\n");
    test::writeFile(root_ + L"\\notes.txt", "mine");
    registerAt(root_);
    std::wstring held = root_ + L"\\app-1.0.0\\resources.dat";
    test::writeFile(held, "app data");
    FileHandle handle(CreateFileW(longPath(held).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(handle);

    EXPECT_EQ(run(true), L"QV-UN-2");
    EXPECT_EQ(error_.message, L"Some QuorvelAI files could not be removed. Restart the PC and "
                              L"try again. They are in " + root_);
    EXPECT_TRUE(equalsIgnoreCase(error_.detail, held)) << error_.detail;
    EXPECT_TRUE(logged(L"(attempt 5 of 5)"));
    EXPECT_FALSE(logged(L"(attempt 6 of"));
    EXPECT_TRUE(isFile(root_ + L"\\Uninstall.exe"));
    EXPECT_TRUE(test::keyExists(uninstallKeyPath));
    EXPECT_FALSE(isFile(root_ + L"\\app-1.0.0\\QuorvelAI.exe"));
    EXPECT_FALSE(isFolder(dataFolder()));
    EXPECT_FALSE(isFolder(dashedDataFolder()));
    EXPECT_FALSE(logged(L"Could not fully delete"));

    handle.reset();  // the restart
    EXPECT_EQ(run(), L"");
    EXPECT_FALSE(test::keyExists(uninstallKeyPath));
    EXPECT_EQ(test::readFile(root_ + L"\\notes.txt"), "mine");
    EXPECT_FALSE(isFile(root_ + L"\\Uninstall.exe") || isFolder(root_ + L"\\app-1.0.0"));
}

// Catches a root that is there but cannot be listed (access denied, a broken
// link) taken for an empty one: the entry deleted and success reported
// while every file stays. Wine cannot refuse a listing to its user, so the
// listing is refused through the seam.
TEST_F(Uninstall, ARootThatCannotBeListedEndsInUn2AndKeepsTheEntry) {
    registerAt(root_);
    static std::wstring refused;
    refused = root_;
    folderListGate() = [](const std::wstring& path) -> DWORD {
        return equalsIgnoreCase(fullPath(path), refused) ? ERROR_ACCESS_DENIED : 0;
    };
    EXPECT_EQ(run(), L"QV-UN-2");
    folderListGate() = nullptr;
    EXPECT_EQ(error_.detail, root_);
    EXPECT_NE(error_.message.find(root_), std::wstring::npos);
    EXPECT_TRUE(test::keyExists(uninstallKeyPath));
    EXPECT_TRUE(isFile(root_ + L"\\Uninstall.exe"));
    EXPECT_FALSE(logged(L"Uninstall finished"));
}

// Catches the run lock taken only after the root was looked at: a run
// that holds it may be about to register or fill this root.
TEST_F(Uninstall, WaitsForAnotherRunBeforeLookingAtTheRoot) {
    DeleteFileW(longPath(root_ + L"\\app-1.0.0\\QuorvelAI.exe").c_str());
    timings().runLockWaitMs = 100;
    timings().pollMs = 10;
    test::HeldRunLock otherRun;
    EXPECT_EQ(run(), L"QV-RUN-2");
    EXPECT_TRUE(isFile(root_ + L"\\Uninstall.exe"));
}

// Catches a data folder that cannot be fully removed failing the run, or
// going unreported.
TEST_F(Uninstall, ADataFolderThatStaysIsOnlyAWarning) {
    test::makeFolders(dataFolder());
    test::writeFile(attributionStampPath(), "{}\n");
    FileHandle handle(CreateFileW(longPath(attributionStampPath()).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(handle);
    EXPECT_EQ(run(true), L"");
    EXPECT_TRUE(logged(L"WARN  Could not fully delete " + dataFolder() + L"\r\n"));
    EXPECT_FALSE(isFolder(root_));
}

// Catches the uninstaller that handed over not being waited for: a
// suspended child ended a little later stands in for it.
TEST_F(Uninstall, WaitsForTheProcessThatHandedOver) {
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

    EXPECT_EQ(run(false, info.dwProcessId), L"");
    EXPECT_EQ(WaitForSingleObject(process->get(), 0), WAIT_OBJECT_0);
    ender.join();
}

// Catches a plain substring match (another install's key deleted), a
// case-sensitive match, or a root at the very end not recognised.
TEST(CommandNamesFolder, NeedsASeparatorAfterTheRoot) {
    const struct {
        const wchar_t *command, *root;
        bool names;
    } cases[] = {
        {L"\"C:\\Apps\\Q\\QuorvelAI.exe\" \"%1\"", L"C:\\Apps\\Q", true},
        {L"c:\\apps\\q\\x.exe %1", L"C:\\Apps\\Q", true},
        {L"\"C:\\Apps\\Q\" %1", L"C:\\Apps\\Q", true},
        {L"open C:\\Apps\\Q", L"C:\\Apps\\Q", true},
        {L"\"C:\\Apps\\Q2\\x.exe\" C:\\Apps\\Q\\y.exe", L"C:\\Apps\\Q", true},
        {L"\"C:\\Apps\\Quorvel2\\x.exe\" %1", L"C:\\Apps\\Q", false},
        {L"\"C:\\Apps\\Q.exe\" %1", L"C:\\Apps\\Q", false},
        {L"\"C:\\x.exe\"", L"C:\\", true},
        {L"", L"C:\\Apps\\Q", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(commandNamesFolder(c.command, c.root), c.names) << c.command << L" / " << c.root;
}

}  // namespace
}  // namespace qv
