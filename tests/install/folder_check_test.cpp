#include "setup/install/folder_check.h"

#include "setup/core/progress.h"
#include "setup/install/install_layout.h"
#include "setup/install/registration.h"

#include "foundation/files.h"
#include "foundation/folder_tree.h"
#include "foundation/handles.h"
#include "foundation/paths.h"

#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <optional>
#include <tuple>
#include <sstream>

namespace qv {
namespace {

using test::TempFolder;
const wchar_t* const projectsText =
    L"That folder is where your Roblox projects are kept. Choose another folder.";

struct Release {
    SilentProgress progress;
    SetupContext context{SetupOptions{}, &progress, nullptr};
    Release(int32_t longest = 10, uint64_t unpacked = 0) {
        context.releaseVersion = L"1.2.3";
        context.longestPath = longest;
        context.unpackedSize = unpacked;
    }
};

// "f:a\b d:c" makes the file a\b and the folder c inside root.
void makeEntries(const std::wstring& root, const std::wstring& entries) {
    std::wistringstream words(entries);
    for (std::wstring entry; words >> entry;) {
        std::wstring path = joinPath(root, entry.substr(2));
        test::makeFolders(entry[0] == L'd' ? path : parentFolder(path));
        if (entry[0] == L'f') test::writeFile(path, "x");
    }
}

// Sets an environment variable for one scope (nullopt: unset).
class EnvironmentOverride {
public:
    EnvironmentOverride(const wchar_t* name, std::optional<std::wstring> value) : name_(name) {
        if (GetEnvironmentVariableW(name, nullptr, 0) != 0) saved_ = environmentVariable(name);
        SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
    }
    ~EnvironmentOverride() { SetEnvironmentVariableW(name_, saved_ ? saved_->c_str() : nullptr); }

private:
    const wchar_t* name_;
    std::optional<std::wstring> saved_;
};

struct CheckCase {
    std::wstring folder;  // "~" the test's folder, "%docs%" Documents, "%DOCS%" upper-cased
    const wchar_t* entries;
    int32_t longest;
    uint64_t unpacked;
    const wchar_t* code;
    const wchar_t* text;  // the start of the problem text
};

const wchar_t* const dir1 = L"Choose a full folder path.";
const wchar_t* const other = L"That folder already has other files in it. Choose an empty folder.";
const CheckCase checkCases[] = {
    // Relative texts and a bare drive taken as folders.
    {L"", L"", 10, 0, L"QV-DIR-1", dir1},
    {L"relative\\QuorvelAI", L"", 10, 0, L"QV-DIR-1", dir1},
    {L"C:", L"", 10, 0, L"QV-DIR-1", dir1},
    {L"\\QuorvelAI", L"", 10, 0, L"QV-DIR-1", dir1},
    // UNC and drive-relative forms refused as not full (the driver's
    // current folder is the test's folder).
    {L"\\\\qv-no-server\\share\\QuorvelAI", L"", 10, 0, L"QV-DIR-2", L""},
    {L"C:qv-drive-relative", L"", 10, 0, L"", L""},
    // The projects folder matched exactly or case-sensitively; checked after
    // the empty-folder rule.
    {L"%docs%\\QuorvelAI", L"", 10, 0, L"QV-DIR-4", projectsText},
    {L"%DOCS%\\QUORVELAI\\My Game", L"", 10, 0, L"QV-DIR-4", projectsText},
    // A wrong entry, file/folder mix-up or case-sensitive match in the name rule.
    {L"~", L"f:Update.exe d:packages d:app-1.2.3.tmp", 10, 0, L"", L""},
    {L"~", L"f:Update.exe d:packages d:app-1.2.3.tmp f:notes.txt", 10, 0, L"QV-DIR-4", other},
    {L"~", L"f:QuorvelAI.exe.new f:Uninstall.exe f:Uninstall.exe.new f:.dead f:app.ico", 10, 0,
     L"", L""},
    {L"~", L"f:SquirrelSetup.log f:Squirrel-Update.log f:QuorvelAI.exe.old-123", 10, 0, L"", L""},
    {L"~", L"f:UPDATE.EXE d:APP-1.2.3.OLD d:app-1.2.3.4", 10, 0, L"", L""},
    {L"~", L"f:QuorvelAI.exe.old-", 10, 0, L"QV-DIR-4", other},
    {L"~", L"f:Squirrel-.log", 10, 0, L"QV-DIR-4", other},
    {L"~", L"d:app-1.2", 10, 0, L"QV-DIR-4", other},
    {L"~", L"d:app-1.2.3.4.5", 10, 0, L"QV-DIR-4", other},
    {L"~", L"d:app-1.2.3.bak", 10, 0, L"QV-DIR-4", other},
    {L"~", L"f:app-1.2.3", 10, 0, L"QV-DIR-4", other},
    {L"~", L"d:Update.exe", 10, 0, L"QV-DIR-4", other},
    // An install of ours or of the earlier installer refused for its extra files.
    {L"~", L"f:app-1.0.0\\QuorvelAI.exe f:notes.txt", 10, 0, L"", L""},
    {L"~", L"f:Update.exe f:QuorvelAI.exe d:Projects", 10, 0, L"", L""},
    {L"~", L"d:app-1.0.0 f:notes.txt", 10, 0, L"QV-DIR-4", other},
    // The only copy of a version set aside by an unfinished repair not taken
    // for an install; a leftover copy beside its version folder taken for one.
    {L"~", L"f:app-1.0.0.old\\QuorvelAI.exe f:notes.txt", 10, 0, L"", L""},
    {L"~", L"f:app-1.0.0.old\\QuorvelAI.exe d:app-1.0.0 f:notes.txt", 10, 0, L"QV-DIR-4", other},
    // An off-by-one at the limit (200 + 2 + 9 + 48 = 259), 260 named as allowed.
    {L"%200%", L"", 48, 0, L"", L""},
    {L"%200%", L"", 49, 0, L"QV-PATH-1",
     L"This folder's path is too long for QuorvelAI's files (260 characters, Windows allows "
     L"259). Choose a shorter folder."},
    // A folder that cannot be made, and one without room.
    {L"~\\file\\QuorvelAI", L"f:file", 10, 0, L"QV-DIR-2",
     L"The setup cannot create this folder: "},
    {L"~\\QuorvelAI", L"", 10, 1ull << 60, L"QV-DISK-1",
     L"Not enough free disk space here. QuorvelAI needs 1099511627840.0 MB; this drive has "},
};

std::wstring documentsFolder() {
    wchar_t documents[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents);
    return documents;
}

std::wstring resolve(std::wstring folder, const std::wstring& temp) {
    std::wstring upper = documentsFolder();
    CharUpperW(upper.data());
    if (folder == L"%200%") {
        for (folder = temp; folder.size() < 200;) {
            size_t room = 199 - folder.size();
            folder += L"\\" + std::wstring(room > 80 ? 60 : room, L'p');
        }
    }
    if (folder.rfind(L"~", 0) == 0) folder = temp + folder.substr(1);
    if (folder.rfind(L"%docs%", 0) == 0) folder = documentsFolder() + folder.substr(6);
    if (folder.rfind(L"%DOCS%", 0) == 0) folder = upper + folder.substr(6);
    return folder;
}

TEST(CheckInstallFolder, Rules) {
    ASSERT_FALSE(documentsFolder().empty());
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    for (const CheckCase& c : checkCases) {
        TempFolder temp;
        std::wstring folder = resolve(c.folder, fullPath(temp.path()));
        makeEntries(temp.path(), c.entries);
        size_t entries = listFolder(temp.path()).size();
        Release release(c.longest, c.unpacked);
        std::wstring code = L"?";
        SetCurrentDirectoryW(temp.path().c_str());
        bool existed = isFolder(folder);
        std::wstring text = checkInstallFolder(release.context, folder, &code);
        bool exists = isFolder(folder);
        SetCurrentDirectoryW(saved);
        EXPECT_EQ(code, c.code) << c.folder << L" " << c.entries;
        EXPECT_EQ(text.substr(0, wcslen(c.text)), c.text) << c.folder << L" " << c.entries;
        // A folder the check made is gone; one that existed keeps just its entries.
        EXPECT_EQ(exists, existed) << c.folder;
        if (c.folder == L"~") {
            EXPECT_EQ(listFolder(temp.path()).size(), entries);
        }
    }
    EXPECT_FALSE(isFolder(joinPath(documentsFolder(), L"QuorvelAI")));
}

// Catches the parents of a missing folder removed with it, or the folder kept.
TEST(CheckInstallFolder, KeepsTheParentsItMade) {
    TempFolder temp;
    EXPECT_EQ(checkInstallFolder(Release().context, temp / L"a\\b\\QuorvelAI"), L"");
    EXPECT_FALSE(isFolder(temp / L"a\\b\\QuorvelAI"));
    EXPECT_TRUE(isFolder(temp / L"a\\b"));
}

// Catches the default folder refused because of files the user put there.
TEST(CheckInstallFolder, DefaultFolderPassesWithForeignFiles) {
    std::wstring folder = defaultInstallFolder();
    bool existed = isFolder(folder);
    ASSERT_TRUE(createFolderTree(folder));
    test::writeFile(joinPath(folder, L"qv-notes.txt"), "mine");
    std::wstring text = checkInstallFolder(Release().context, folder);
    DeleteFileW(longPath(joinPath(folder, L"qv-notes.txt")).c_str());
    if (!existed) removeTree(folder);
    EXPECT_EQ(text, L"");
}

// Catches the margin left out, a strict comparison at the boundary, other
// units than MiB, and a size that wraps round to a small need.
TEST(DiskSpaceProblem, NeedsTheSizePlus64MiB) {
    const uint64_t mib = 1048576;
    const std::wstring start = L"Not enough free disk space here. QuorvelAI needs ";
    EXPECT_EQ(diskSpaceProblem(1000, 64 * mib + 1000), L"");
    EXPECT_EQ(diskSpaceProblem(1000, 64 * mib + 999),
              start + L"64.0 MB; this drive has 64.0 MB free.");
    EXPECT_EQ(diskSpaceProblem(500 * mib, 100 * mib),
              start + L"564.0 MB; this drive has 100.0 MB free.");
    EXPECT_EQ(diskSpaceProblem(UINT64_MAX - 10, 100 * mib),
              start + L"17592186044416.0 MB; this drive has 100.0 MB free.");
}

// Catches a missing or empty USERPROFILE still giving a candidate, an
// existing folder at the drive root that is not this user's offered, and
// the wrong order; then a failing first candidate taken, or a folder
// returned when all fail. (Wine shows the current user as every folder's
// owner, so the seam says "someone else's".)
TEST(FallbackFolder, CandidatesFollowTheEnvironment) {
    folderOwnerCheck() = [](const std::wstring&) { return false; };
    TempFolder temp;
    const std::wstring home = temp / L"home", drive = temp / L"drive", taken = temp / L"taken";
    makeEntries(temp.path(), L"d:taken\\QuorvelAI");
    std::vector<std::wstring> atC;
    if (!isFolder(L"C:\\QuorvelAI")) atC.push_back(L"C:\\QuorvelAI");
    const std::tuple<std::optional<std::wstring>, std::optional<std::wstring>,
                     std::vector<std::wstring>>
        cases[] = {
            {std::nullopt, taken, {}},
            {L"", taken, {}},
            {home, drive, {home + L"\\QuorvelAI", drive + L"\\QuorvelAI"}},
            {std::nullopt, L"", atC},
        };
    for (const auto& [profile, systemDrive, expected] : cases) {
        EnvironmentOverride a(L"USERPROFILE", profile), b(L"SystemDrive", systemDrive);
        EXPECT_EQ(fallbackFolderCandidates(), expected) << profile.value_or(L"(unset)");
    }
    makeEntries(temp.path(), L"f:home\\QuorvelAI\\notes.txt");
    EnvironmentOverride a(L"USERPROFILE", home), b(L"SystemDrive", drive);
    EXPECT_EQ(findFallbackFolder(Release().context), drive + L"\\QuorvelAI");
    EXPECT_EQ(findFallbackFolder(Release(400).context), L"");
    folderOwnerCheck() = nullptr;
}

// Catches a folder at the drive root that another account may have made
// offered as the fallback (its private permissions are only set on a
// folder the run makes), or this user's own one refused. Wine keeps no
// owners, so the owner's answer comes from the seam.
TEST(FallbackFolder, AnExistingDriveFolderOnlyWhenItIsThisUsers) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, uninstallKeyPath, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        GTEST_SKIP() << "an uninstall entry already exists";
    }
    static bool owned;
    folderOwnerCheck() = [](const std::wstring&) { return owned; };
    TempFolder temp;
    makeEntries(temp.path(), L"d:taken\\QuorvelAI");
    const std::wstring atDrive = temp / L"taken\\QuorvelAI";
    const struct {
        bool owned;
        std::wstring registered;
        std::vector<std::wstring> expected;
    } cases[] = {
        {false, L"", {}},
        {false, temp / L"elsewhere", {}},
        {true, L"", {atDrive}},
        {false, atDrive + L"\\", {atDrive}},
    };
    EnvironmentOverride profile(L"USERPROFILE", std::nullopt), drive(L"SystemDrive", temp / L"taken");
    for (const auto& c : cases) {
        owned = c.owned;
        RegDeleteTreeW(HKEY_CURRENT_USER, uninstallKeyPath);
        if (!c.registered.empty()) writeRegistryString(uninstallKeyPath, L"InstallLocation", c.registered);
        EXPECT_EQ(fallbackFolderCandidates(), c.expected) << c.owned << " " << c.registered;
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, uninstallKeyPath);
    folderOwnerCheck() = nullptr;
}

// Catches the value read with flags Windows refuses (never found), an
// expandable value not expanded, the path returned unresolved, and a
// registered folder without an install trusted; then the default folder's
// install not found without an entry, or taken over a registered one.
TEST(RegisteredInstallFolder, FindsTheRegisteredInstall) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, uninstallKeyPath, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        GTEST_SKIP() << "an uninstall entry already exists";
    }
    ASSERT_FALSE(holdsInstall(defaultInstallFolder()));
    TempFolder temp;
    makeEntries(temp.path(), L"f:ours\\app-1.0.0\\QuorvelAI.exe f:sq\\Update.exe "
                             L"f:sq\\QuorvelAI.exe d:empty\\app-1.0.0");
    EnvironmentOverride root(L"QV_TEST_ROOT", temp.path());
    const std::wstring fallback = defaultInstallFolder();
    const bool fallbackExisted = isFolder(fallback);
    ScopeGuard cleanUp([&] {
        RegDeleteTreeW(HKEY_CURRENT_USER, uninstallKeyPath);
        removeTree(fallbackExisted ? joinPath(fallback, L"app-9.9.9") : fallback);
    });
    const std::tuple<DWORD, std::wstring, bool, std::wstring> cases[] = {
        {REG_NONE, L"", false, L""},
        {REG_SZ, temp / L"ours", false, temp / L"ours"},
        {REG_EXPAND_SZ, L"%QV_TEST_ROOT%\\ours", false, temp / L"ours"},
        {REG_SZ, temp / L"sq/", false, temp / L"sq"},
        {REG_SZ, temp / L"empty", false, L""},
        {REG_NONE, L"", true, fallback},
        {REG_SZ, temp / L"empty", true, fallback},
        {REG_SZ, temp / L"ours", true, temp / L"ours"},
    };
    for (const auto& [type, value, defaultHolds, expected] : cases) {
        if (defaultHolds) makeEntries(fallback, L"f:app-9.9.9\\QuorvelAI.exe");
        RegDeleteTreeW(HKEY_CURRENT_USER, uninstallKeyPath);
        if (type != REG_NONE) {
            ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, uninstallKeyPath, L"InstallLocation", type,
                                      value.c_str(), static_cast<DWORD>((value.size() + 1) * 2)),
                      ERROR_SUCCESS);
        }
        EXPECT_EQ(registeredInstallFolder(), expected) << value;
    }
}

// Catches a code mapped to another text, and the projects folder described
// as a folder with other files.
TEST(ShortFolderProblem, OneTextPerProblem) {
    EXPECT_EQ(shortFolderProblem(L"QV-PATH-1"), L"That path is too long.");
    EXPECT_EQ(shortFolderProblem(L"QV-DIR-4", other), L"That folder has other files.");
    EXPECT_EQ(shortFolderProblem(L"QV-DIR-4", projectsText), L"That's your projects folder.");
    EXPECT_EQ(shortFolderProblem(L"QV-DISK-1"), L"Not enough space there.");
    EXPECT_EQ(shortFolderProblem(L"QV-DIR-1"), L"That isn't a full path.");
    EXPECT_EQ(shortFolderProblem(L"QV-DIR-3"), L"Can't write there.");
}

}  // namespace
}  // namespace qv
