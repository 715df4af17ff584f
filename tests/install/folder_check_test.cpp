#include "setup/install/folder_check.h"

#include "setup/core/progress.h"
#include "setup/install/install_layout.h"
#include "setup/install/registration.h"

#include "foundation/files.h"
#include "foundation/folder_tree.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"
#include "foundation/text.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <optional>

namespace qv {
namespace {

using test::TempFolder;

const std::wstring otherFilesText =
    L"That folder already has other files in it. Choose an empty folder.";
const std::wstring projectsText =
    L"That folder is where your Roblox projects are kept. Choose another folder.";

struct Release {
    SilentProgress progress;
    SetupContext context{SetupOptions{}, &progress, nullptr};
    Release() {
        context.releaseVersion = L"1.2.3";
        context.longestPath = 10;
    }
};

struct Outcome {
    std::wstring text;
    std::wstring code;
};

Outcome check(const std::wstring& folder, const SetupContext& context = Release().context) {
    Outcome outcome;
    outcome.text = checkInstallFolder(context, folder, &outcome.code);
    return outcome;
}

// "f:name" makes a file, "d:name" a folder, inside root.
void makeEntries(const std::wstring& root, const std::vector<std::wstring>& entries) {
    for (const std::wstring& entry : entries) {
        std::wstring path = joinPath(root, entry.substr(2));
        if (entry[0] == L'd') {
            test::makeFolders(path);
        } else {
            test::makeFolders(parentFolder(path));
            test::writeFile(path, "x");
        }
    }
}

// Sets an environment variable for one scope (nullopt: unset).
class EnvironmentOverride {
public:
    EnvironmentOverride(const wchar_t* name, std::optional<std::wstring> value) : name_(name) {
        wchar_t buffer[32768];
        DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
        if (length > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND)
            saved_ = std::wstring(buffer, length);
        SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
    }
    ~EnvironmentOverride() { SetEnvironmentVariableW(name_, saved_ ? saved_->c_str() : nullptr); }

private:
    const wchar_t* name_;
    std::optional<std::wstring> saved_;
};

// Removes the default install folder afterwards when the test made it.
class DefaultFolderScope {
public:
    DefaultFolderScope() : existed_(isFolder(defaultInstallFolder())) {}
    ~DefaultFolderScope() {
        if (!existed_) removeTree(defaultInstallFolder());
    }
    bool existed() const { return existed_; }

private:
    bool existed_;
};

// Catches a relative or bare-drive text taken as a folder, and a UNC or
// drive-relative path refused by the first rule.
TEST(CheckInstallFolder, FirstRuleWantsAFullPath) {
    TempFolder temp;
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    SetCurrentDirectoryW(temp.path().c_str());  // "C:name" resolves into temp
    ASSERT_EQ(temp.path()[1], L':');
    std::wstring driveRelative = temp.path().substr(0, 2) + L"qv-drive-relative";

    struct Case {
        std::wstring folder;
        bool full;
    };
    const Case cases[] = {
        {L"", false},
        {L"QuorvelAI", false},
        {L"relative\\QuorvelAI", false},
        {L"C:", false},
        {L"\\QuorvelAI", false},
        {L"\\\\qv-no-server\\share\\QuorvelAI", true},
        {driveRelative, true},
    };
    for (const Case& c : cases) {
        Outcome outcome = check(c.folder);
        if (c.full) {
            EXPECT_NE(outcome.code, L"QV-DIR-1") << c.folder;
        } else {
            EXPECT_EQ(outcome.code, L"QV-DIR-1") << c.folder;
            EXPECT_EQ(outcome.text, L"Choose a full folder path.") << c.folder;
        }
    }
    // The drive-relative folder was resolved, checked and removed again.
    EXPECT_TRUE(check(driveRelative).code.empty());
    EXPECT_FALSE(isFolder(temp / L"qv-drive-relative"));
    SetCurrentDirectoryW(saved);
}

// Catches a case-sensitive or exact-match projects test, or the rule running
// after the empty-folder rule (the projects folder is refused even empty).
TEST(CheckInstallFolder, ProjectsFolderRefusedInAnyCase) {
    wchar_t documents[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents),
              S_OK);
    std::wstring upper = documents;
    CharUpperW(upper.data());
    for (const std::wstring& folder :
         {joinPath(documents, L"QuorvelAI"), joinPath(upper, L"QUORVELAI\\My Game"),
          joinPath(documents, L"quorvelai\\")}) {
        Outcome outcome = check(folder);
        EXPECT_EQ(outcome.code, L"QV-DIR-4") << folder;
        EXPECT_EQ(outcome.text, projectsText) << folder;
    }
    EXPECT_FALSE(isFolder(joinPath(documents, L"QuorvelAI")));
}

// Catches a wrong entry in the install-root name rule, a file/folder mix-up,
// a case-sensitive comparison, and an install's own folder refused.
TEST(CheckInstallFolder, OnlyInstallNamesPassTheEmptyFolderRule) {
    struct Case {
        std::vector<std::wstring> entries;
        bool passes;
    };
    const Case cases[] = {
        {{L"f:Update.exe", L"d:packages", L"d:app-1.2.3.tmp"}, true},
        {{L"f:Update.exe", L"d:packages", L"d:app-1.2.3.tmp", L"f:notes.txt"}, false},
        {{L"f:QuorvelAI.exe.new", L"f:Uninstall.exe", L"f:Uninstall.exe.new"}, true},
        {{L"f:SquirrelSetup.log", L"f:.dead", L"f:app.ico", L"f:Squirrel-Update.log"}, true},
        {{L"f:UPDATE.EXE", L"d:APP-1.2.3.OLD", L"d:app-1.2.3.4"}, true},
        {{L"f:QuorvelAI.exe.old-123456"}, true},
        {{L"f:QuorvelAI.exe.old-"}, false},  // nothing after the dash
        {{L"f:Squirrel-.log"}, false},       // 13 characters
        {{L"f:Squirrel-x.txt"}, false},
        {{L"d:app-1.2"}, false},             // two parts only
        {{L"d:app-1.2.3.4.5"}, false},
        {{L"d:app-1.2.3.bak"}, false},
        {{L"f:app-1.2.3"}, false},           // a file with a folder's name
        {{L"f:packages"}, false},
        {{L"d:Update.exe"}, false},          // a folder with a file's name
        // An install of ours or of the earlier installer may hold anything.
        {{L"f:app-1.0.0\\QuorvelAI.exe", L"f:notes.txt"}, true},
        {{L"f:Update.exe", L"f:QuorvelAI.exe", L"d:Projects"}, true},
        {{L"d:app-1.0.0", L"f:notes.txt"}, false},  // no program: not an install
    };
    for (const Case& c : cases) {
        TempFolder temp;
        std::wstring folder = temp / L"QuorvelAI";
        makeEntries(folder, c.entries);
        Outcome outcome = check(folder);
        std::wstring label = c.entries.front() + L" ...";
        if (c.passes) {
            EXPECT_EQ(outcome.code, L"") << label << L": " << outcome.text;
        } else {
            EXPECT_EQ(outcome.code, L"QV-DIR-4") << label;
            EXPECT_EQ(outcome.text, otherFilesText) << label;
        }
    }
}

// Catches the default folder refused because of files the user put there.
TEST(CheckInstallFolder, DefaultFolderPassesWithForeignFiles) {
    DefaultFolderScope scope;
    std::wstring folder = defaultInstallFolder();
    ASSERT_TRUE(createFolderTree(folder));
    std::wstring note = joinPath(folder, L"qv-check-test-notes.txt");
    test::writeFile(note, "mine");
    Outcome outcome = check(folder);
    DeleteFileW(longPath(note).c_str());
    EXPECT_EQ(outcome.code, L"") << outcome.text;
    EXPECT_EQ(listForeignEntries(folder).size(), 0u);
}

// Catches an off-by-one at the length limit, a missing "app-" or separator
// count, and the limit text naming 260 as allowed.
TEST(CheckInstallFolder, PathLengthLimitIs259) {
    TempFolder temp;
    std::wstring folder = fullPath(temp.path());
    while (folder.size() < 200) {
        size_t room = 200 - folder.size() - 1;
        folder += L"\\" + std::wstring(room < 80 ? room : 80, L'p');
    }
    ASSERT_EQ(folder.size(), 200u);
    Release release;
    release.context.longestPath = 48;  // 200 + 2 + 9 + 48 = 259
    EXPECT_EQ(check(folder, release.context).code, L"");
    release.context.longestPath = 49;
    Outcome outcome = check(folder, release.context);
    EXPECT_EQ(outcome.code, L"QV-PATH-1");
    EXPECT_EQ(outcome.text,
              L"This folder's path is too long for QuorvelAI's files (260 characters, Windows "
              L"allows 259). Choose a shorter folder.");
}

// Catches the check leaving behind the folder it made (or its test file),
// removing the parents it made, or removing a folder that existed.
TEST(CheckInstallFolder, LeavesFoldersAsItFoundThem) {
    TempFolder temp;
    std::wstring fresh = temp / L"a\\b\\QuorvelAI";
    EXPECT_EQ(check(fresh).code, L"");
    EXPECT_FALSE(isFolder(fresh));
    EXPECT_TRUE(isFolder(temp / L"a\\b"));

    std::wstring existing = temp / L"existing";
    makeEntries(existing, {L"d:app-1.2.3"});
    EXPECT_EQ(check(existing).code, L"");
    ASSERT_TRUE(isFolder(existing));
    std::vector<FolderEntry> left = listFolder(existing);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].name, L"app-1.2.3");
}

// Catches a creation failure reported without its error, or not at all.
TEST(CheckInstallFolder, UncreatableFolderNamesTheError) {
    TempFolder temp;
    test::writeFile(temp / L"file", "x");
    Outcome outcome = check(temp / L"file\\QuorvelAI");
    EXPECT_EQ(outcome.code, L"QV-DIR-2");
    EXPECT_EQ(outcome.text, formatText(L"The setup cannot create this folder: %ls (error %lu).",
                                       windowsErrorText(ERROR_ALREADY_EXISTS).c_str(),
                                       static_cast<unsigned long>(ERROR_ALREADY_EXISTS)));
}

// Catches the margin left out, a strict comparison at the boundary, other
// units than MiB in the text, and a size that wraps round to a small need.
TEST(DiskSpaceProblem, NeedsTheSizePlus64MiB) {
    const uint64_t mib = 1048576;
    struct Case {
        uint64_t unpacked;
        uint64_t free;
        std::wstring text;  // empty: enough room
    };
    const Case cases[] = {
        {0, 64 * mib, L""},
        {1000, 64 * mib + 1000, L""},
        {1000, 64 * mib + 999,
         L"Not enough free disk space here. QuorvelAI needs 64.0 MB; this drive has 64.0 MB free."},
        {500 * mib, 100 * mib,
         L"Not enough free disk space here. QuorvelAI needs 564.0 MB; this drive has 100.0 MB "
         L"free."},
        {UINT64_MAX - 10, 100 * mib,
         L"Not enough free disk space here. QuorvelAI needs 17592186044416.0 MB; this drive has "
         L"100.0 MB free."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(diskSpaceProblem(c.unpacked, c.free), c.text) << c.unpacked << L" " << c.free;
}

// Catches the space rule not being applied by the check.
TEST(CheckInstallFolder, RefusesAFolderWithoutRoom) {
    TempFolder temp;
    Release release;
    release.context.unpackedSize = 1ull << 60;
    Outcome outcome = check(temp / L"QuorvelAI", release.context);
    EXPECT_EQ(outcome.code, L"QV-DISK-1");
    EXPECT_EQ(outcome.text.rfind(L"Not enough free disk space here. QuorvelAI needs "
                                 L"1099511627840.0 MB; this drive has ",
                                 0),
              0u)
        << outcome.text;
    EXPECT_FALSE(isFolder(temp / L"QuorvelAI"));
}

// Catches a missing or empty USERPROFILE still giving a candidate, an
// existing folder at the drive root offered, and the wrong order.
TEST(FallbackFolderCandidates, FollowTheEnvironment) {
    TempFolder temp;
    std::wstring home = temp / L"home";
    std::wstring drive = temp / L"drive";
    test::makeFolders(temp / L"taken\\QuorvelAI");
    struct Case {
        std::optional<std::wstring> profile;
        std::optional<std::wstring> systemDrive;
        std::vector<std::wstring> expected;
    };
    std::vector<std::wstring> atC;
    if (!isFolder(L"C:\\QuorvelAI")) atC.push_back(L"C:\\QuorvelAI");
    const Case cases[] = {
        {std::nullopt, temp / L"taken", {}},
        {std::wstring(), temp / L"taken", {}},
        {home, drive, {joinPath(home, L"QuorvelAI"), drive + L"\\QuorvelAI"}},
        {home, temp / L"taken", {joinPath(home, L"QuorvelAI")}},
        {std::nullopt, std::nullopt, atC},
        {std::nullopt, std::wstring(), atC},
    };
    for (const Case& c : cases) {
        EnvironmentOverride profile(L"USERPROFILE", c.profile);
        EnvironmentOverride systemDrive(L"SystemDrive", c.systemDrive);
        EXPECT_EQ(fallbackFolderCandidates(), c.expected)
            << c.profile.value_or(L"(unset)") << L" " << c.systemDrive.value_or(L"(unset)");
    }
}

// Catches the first candidate taken without its check, and a folder
// returned when every candidate fails.
TEST(FindFallbackFolder, TakesTheFirstCandidateThatPasses) {
    TempFolder temp;
    makeEntries(temp / L"home\\QuorvelAI", {L"f:notes.txt"});
    EnvironmentOverride profile(L"USERPROFILE", temp / L"home");
    EnvironmentOverride systemDrive(L"SystemDrive", temp / L"drive");
    Release release;
    EXPECT_EQ(findFallbackFolder(release.context), temp / L"drive\\QuorvelAI");
    release.context.longestPath = 400;
    EXPECT_EQ(findFallbackFolder(release.context), L"");
}

// Catches a layout of ours or of the earlier installer not recognised, and
// half a layout taken as an install.
TEST(HoldsInstall, RecognisesBothLayouts) {
    struct Case {
        std::vector<std::wstring> entries;
        bool holds;
    };
    const Case cases[] = {
        {{L"f:app-1.0.0\\QuorvelAI.exe"}, true},
        {{L"f:Update.exe", L"f:QuorvelAI.exe"}, true},
        {{L"d:app-1.0.0"}, false},
        {{L"f:Update.exe"}, false},
        {{L"f:QuorvelAI.exe"}, false},
        {{L"f:app-1.0.0\\Other.exe"}, false},
    };
    for (const Case& c : cases) {
        TempFolder temp;
        makeEntries(temp.path(), c.entries);
        EXPECT_EQ(holdsInstall(temp.path()), c.holds) << c.entries.front();
    }
    TempFolder temp;
    EXPECT_FALSE(holdsInstall(L""));
    EXPECT_FALSE(holdsInstall(temp / L"missing"));
}

// Owns the uninstall entry for one test; refuses to run over a real one.
class UninstallEntryScope {
public:
    UninstallEntryScope() {
        HKEY key = nullptr;
        existed_ = RegOpenKeyExW(HKEY_CURRENT_USER, uninstallKeyPath, 0, KEY_READ, &key) ==
                   ERROR_SUCCESS;
        if (key) RegCloseKey(key);
    }
    ~UninstallEntryScope() {
        if (!existed_) RegDeleteTreeW(HKEY_CURRENT_USER, uninstallKeyPath);
    }
    bool existed() const { return existed_; }
    void set(DWORD type, const std::wstring& value) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, uninstallKeyPath, 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, L"InstallLocation", 0, type,
                       reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }

private:
    bool existed_ = false;
};

// Catches the value read with flags Windows refuses (never found), an
// expandable value not expanded, the registered path returned unresolved,
// and a registered folder without an install trusted.
TEST(RegisteredInstallFolder, FindsTheRegisteredInstall) {
    UninstallEntryScope entry;
    if (entry.existed()) GTEST_SKIP() << "an uninstall entry already exists";
    ASSERT_FALSE(holdsInstall(defaultInstallFolder()));
    TempFolder temp;
    makeEntries(temp / L"ours", {L"f:app-1.0.0\\QuorvelAI.exe"});
    makeEntries(temp / L"squirrel", {L"f:Update.exe", L"f:QuorvelAI.exe"});
    makeEntries(temp / L"empty", {L"d:app-1.0.0"});
    EnvironmentOverride root(L"QV_TEST_ROOT", temp.path());
    struct Case {
        DWORD type;  // REG_NONE: no value
        std::wstring value;
        std::wstring expected;
    };
    const Case cases[] = {
        {REG_NONE, L"", L""},
        {REG_SZ, temp / L"ours", temp / L"ours"},
        {REG_EXPAND_SZ, L"%QV_TEST_ROOT%\\ours", temp / L"ours"},
        {REG_SZ, (temp / L"squirrel").append(L"\\"), temp / L"squirrel"},
        {REG_SZ, temp / L"empty", L""},
        {REG_SZ, temp / L"missing", L""},
    };
    for (const Case& c : cases) {
        RegDeleteTreeW(HKEY_CURRENT_USER, uninstallKeyPath);
        if (c.type != REG_NONE) entry.set(c.type, c.value);
        EXPECT_EQ(registeredInstallFolder(), c.expected) << c.value;
    }
}

// Catches the default folder's install not found when nothing is registered.
TEST(RegisteredInstallFolder, FallsBackToTheDefaultFolder) {
    UninstallEntryScope entry;
    if (entry.existed()) GTEST_SKIP() << "an uninstall entry already exists";
    DefaultFolderScope scope;
    if (scope.existed()) GTEST_SKIP() << "the default folder already exists";
    TempFolder temp;
    entry.set(REG_SZ, temp / L"missing");
    makeEntries(defaultInstallFolder(), {L"f:app-1.0.0\\QuorvelAI.exe"});
    EXPECT_EQ(registeredInstallFolder(), defaultInstallFolder());
}

// Catches a code mapped to another text, and the projects folder described
// as a folder with other files.
TEST(ShortFolderProblem, OneTextPerProblem) {
    const std::pair<std::pair<std::wstring, std::wstring>, std::wstring> cases[] = {
        {{L"QV-PATH-1", L""}, L"That path is too long."},
        {{L"QV-DIR-4", otherFilesText}, L"That folder has other files."},
        {{L"QV-DIR-4", projectsText}, L"That's your projects folder."},
        {{L"QV-DISK-1", L""}, L"Not enough space there."},
        {{L"QV-DIR-1", L""}, L"That isn't a full path."},
        {{L"QV-DIR-2", L""}, L"Can't write there."},
        {{L"QV-DIR-3", L""}, L"Can't write there."},
    };
    for (const auto& [input, text] : cases)
        EXPECT_EQ(shortFolderProblem(input.first, input.second), text) << input.first;
}

}  // namespace
}  // namespace qv
