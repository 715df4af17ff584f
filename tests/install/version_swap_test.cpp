#include "setup/install/version_swap.h"

#include "setup/install/install_layout.h"

#include "setup/core/options.h"
#include "setup/core/setup_error.h"
#include "setup/core/timings.h"

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "tests/install/logged_test.h"
#include "tests/support/folder_link.h"

#include <algorithm>
#include <vector>

namespace qv {
namespace {

class VersionSwap : public test::LoggedTest {
protected:
    void SetUp() override {
        LoggedTest::SetUp();
        saved = timings();
        timings().moveAttempts = 3;
        timings().movePauseMs = 1;
    }
    void TearDown() override {
        timings() = saved;
        LoggedTest::TearDown();
    }
    void writeIn(const std::wstring& path, const std::string& bytes) {
        test::makeFolders(parentFolder(path));
        test::writeFile(path, bytes);
    }
    SetupContext context(const wchar_t* version) {
        SetupContext c(SetupOptions{}, nullptr, nullptr);
        c.releaseVersion = version;
        return c;
    }
    Timings saved;
};

// Catches a repair that loses the new files, keeps ".old", or mixes the two.
TEST_F(VersionSwap, ARepairMovesTheOldContentAsideAndRemovesIt) {
    std::wstring final = temp / L"app-1.2.3";
    writeIn(final + L"\\old.txt", "old");
    writeIn(final + L".tmp\\new.txt", "new");
    writeIn(final + L".old\\stale.txt", "from an earlier run");
    swapInVersion(context(L"1.2.3"), final + L".tmp", final);
    EXPECT_EQ(test::readFile(final + L"\\new.txt"), "new");
    EXPECT_FALSE(isFile(final + L"\\old.txt"));
    EXPECT_FALSE(isFolder(final + L".old"));
    EXPECT_FALSE(isFolder(final + L".tmp"));
}

// Catches a failed switch that leaves no version folder, or an error that
// does not name both paths.
TEST_F(VersionSwap, AFailedSwitchPutsTheOldVersionBack) {
    std::wstring final = temp / L"app-1.2.3";
    writeIn(final + L"\\old.txt", "old");
    try {
        swapInVersion(context(L"1.2.3"), final + L".tmp", final);  // nothing staged
        FAIL() << "no error";
    } catch (const SetupError& error) {
        EXPECT_EQ(error.code, L"QV-INST-2");
        EXPECT_TRUE(error.retryable);
        EXPECT_EQ(error.detail.find(final + L".tmp -> " + final + L": "), 0u) << toUtf8(error.detail);
    }
    EXPECT_EQ(test::readFile(final + L"\\old.txt"), "old");
    EXPECT_FALSE(isFolder(final + L".old"));
}

// Catches the only copy of a version, set aside by a repair that was ended
// between its renames, left where the next run does not look, or a
// leftover copy moved over the version folder beside it.
TEST_F(VersionSwap, ARunPutsTheOnlyCopyOfAVersionBack) {
    std::wstring root = temp / L"root";
    writeIn(root + L"\\app-1.0.0.old\\QuorvelAI.exe", "set aside");
    writeIn(root + L"\\app-2.0.0.old\\QuorvelAI.exe", "leftover");
    writeIn(root + L"\\app-2.0.0\\QuorvelAI.exe", "installed");
    restoreSetAsideVersions(root);
    EXPECT_EQ(test::readFile(root + L"\\app-1.0.0\\QuorvelAI.exe"), "set aside");
    EXPECT_FALSE(isFolder(root + L"\\app-1.0.0.old"));
    EXPECT_EQ(test::readFile(root + L"\\app-2.0.0\\QuorvelAI.exe"), "installed");
    EXPECT_EQ(logLines("INFO  Restored "), 1u);
}

// Catches set-aside launchers piling up (the delayed delete needs an
// administrator), one in use removed, or files that are not ours taken.
TEST_F(VersionSwap, PruneRemovesSetAsideLaunchersNoLongerInUse) {
    std::wstring root = temp / L"root";
    writeIn(root + L"\\app-1.0.0\\QuorvelAI.exe", "installed");
    for (const wchar_t* name : {L"QuorvelAI.exe.old-1", L"quorvelai.exe.OLD-22", L"QuorvelAI.exe.old-3",
                                L"QuorvelAI.exe.old-", L"QuorvelAI.exe.older"})
        writeIn(root + L"\\" + name, "launcher");
    FileHandle running(CreateFileW(longPath(root + L"\\QuorvelAI.exe.old-3").c_str(), GENERIC_READ,
                                   FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(running);
    pruneVersions(context(L"1.0.0"), root);
    EXPECT_FALSE(isFile(root + L"\\QuorvelAI.exe.old-1"));
    EXPECT_FALSE(isFile(root + L"\\quorvelai.exe.OLD-22"));
    for (const wchar_t* name : {L"QuorvelAI.exe.old-3", L"QuorvelAI.exe.old-", L"QuorvelAI.exe.older"})
        EXPECT_TRUE(isFile(root + L"\\" + name)) << toUtf8(name);
    EXPECT_TRUE(isFolder(root + L"\\app-1.0.0"));
}

struct ReplaceScript {
    std::vector<bool> answers;  // one per call; missing answers succeed
    int calls = 0;
};

// Catches a launcher lost when the new file cannot take its place, an aside
// copy left where the launcher should be, and the wrong file named.
TEST_F(VersionSwap, TheLauncherIsNeverLost) {
    struct Case {
        const char* name;
        std::vector<bool> answers;
        bool throws;
        const char* launcher;  // content afterwards
        bool asideLeft;
    };
    const Case cases[] = {
        {"replaced at once", {true}, false, "new", false},
        {"in use, then replaced", {false, true}, false, "new", true},
        {"the new file held too", {false, false}, true, "old", false},
    };
    int index = 0;
    for (const Case& c : cases) {
        std::wstring root = temp / formatText(L"root%d", index++);
        std::wstring target = root + L"\\QuorvelAI.exe";
        writeIn(target, "old");
        writeIn(target + L".new", "new");
        ReplaceScript script{c.answers};
        auto replace = [&](const std::wstring& from, const std::wstring& to, DWORD* error) {
            bool ok = script.calls < static_cast<int>(script.answers.size()) ? script.answers[script.calls] : true;
            ++script.calls;
            if (ok) return moveReplacing(from, to, error);
            *error = ERROR_SHARING_VIOLATION;
            return false;
        };
        bool threw = false;
        try {
            replaceLauncherFile(target + L".new", target, replace);
        } catch (const SetupError& error) {
            threw = true;
            EXPECT_EQ(error.code, L"QV-INST-4") << c.name;
            EXPECT_EQ(error.detail.find(target + L": "), 0u) << c.name;
        }
        EXPECT_EQ(threw, c.throws) << c.name;
        EXPECT_EQ(test::readFile(target), c.launcher) << c.name;
        bool asideLeft = false;
        for (const FolderEntry& entry : listFolder(root))
            if (entry.name.rfind(L"QuorvelAI.exe.old-", 0) == 0) asideLeft = true;
        EXPECT_EQ(asideLeft, c.asideLeft) << c.name;
    }
}

// Catches pruning that keeps more than the fallback, removes the fallback,
// chooses a fallback without the program, or removes (or empties) a link
// named like a version.
TEST_F(VersionSwap, PruneKeepsTheCurrentAndTheNewestOlderVersion) {
    std::wstring root = temp / L"root";
    for (const wchar_t* version : {L"1.0.0", L"1.1.0", L"1.2.0", L"2.0.0", L"1.2.0.tmp", L"1.0.0.old"})
        writeIn(root + L"\\app-" + version + L"\\QuorvelAI.exe", "app");
    writeIn(root + L"\\app-1.2.5\\readme.txt", "no program");
    writeIn(root + L"\\app-1.2.0\\squirrel.exe", "squirrel");
    writeIn(root + L"\\app-1.2\\QuorvelAI.exe", "two parts: not ours");
    writeIn(root + L"\\app-1.3.0\\QuorvelAI.exe", "installed");
    std::wstring elsewhere = temp / L"elsewhere", link = root + L"\\app-1.0.5";
    writeIn(elsewhere + L"\\QuorvelAI.exe", "someone else's");
    bool linked = test::makeFolderLink(link, elsewhere);
    ScopeGuard unlink([&] { test::removeFolderLink(link); });
    pruneVersions(context(L"1.3.0"), root);
    const wchar_t* kept[] = {L"app-1.3.0", L"app-1.2.0", L"app-1.2"};
    const wchar_t* removed[] = {L"app-1.0.0", L"app-1.1.0", L"app-2.0.0", L"app-1.2.0.tmp",
                                L"app-1.0.0.old", L"app-1.2.5"};
    for (const wchar_t* name : kept) EXPECT_TRUE(isFolder(root + L"\\" + name)) << toUtf8(name);
    for (const wchar_t* name : removed) EXPECT_FALSE(isFolder(root + L"\\" + name)) << toUtf8(name);
    EXPECT_FALSE(isFile(root + L"\\app-1.2.0\\squirrel.exe"));
    EXPECT_EQ(logLines("INFO  Removed "), 6u);
    EXPECT_EQ(logLines("WARN"), 0u);
    if (!linked) GTEST_SKIP() << "no folder link could be made here; the link case did not run";
    EXPECT_TRUE(isFolder(link));
    EXPECT_EQ(test::readFile(elsewhere + L"\\QuorvelAI.exe"), "someone else's");
}

}  // namespace
}  // namespace qv
