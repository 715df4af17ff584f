#include "setup/install/shortcuts.h"

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "setup/core/options.h"
#include "tests/install/logged_test.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace qv {
namespace {

// What a saved link holds, read with the shell's own object.
struct LinkFields {
    std::wstring target, arguments, workingFolder, icon, description;
};

LinkFields readLink(const std::wstring& path) {
    LinkFields fields;
    ComPtr<IShellLinkW> link;
    ComPtr<IPersistFile> file;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(IShellLinkW), link.putVoid())) ||
        FAILED(link.as(file)) || FAILED(file->Load(path.c_str(), STGM_READ)))
        return fields;
    wchar_t text[1040] = {};
    int index = -1;
    if (SUCCEEDED(link->GetPath(text, 1040, nullptr, 0))) fields.target = text;
    if (SUCCEEDED(link->GetArguments(text, 1040))) fields.arguments = text;
    if (SUCCEEDED(link->GetWorkingDirectory(text, 1040))) fields.workingFolder = text;
    if (SUCCEEDED(link->GetIconLocation(text, 1040, &index))) fields.icon = text;
    if (SUCCEEDED(link->GetDescription(text, 1040))) fields.description = text;
    return fields;
}

class ShortcutTest : public test::LoggedTest {
protected:
    ComApartment apartment;  // the shell link object needs an STA
    void SetUp() override {
        LoggedTest::SetUp();
        ASSERT_TRUE(SUCCEEDED(apartment.result()));
    }
};

// Catches a field not set, set from the wrong member, or the optional ones
// set when empty; also a missing parent folder not made.
TEST_F(ShortcutTest, WrittenFieldsReadBack) {
    std::wstring program = temp / L"root\\QuorvelAI.exe";
    test::makeFolders(temp / L"root");
    test::writeFile(program, "MZ");
    ShortcutSpec full = installShortcutSpec(temp / L"root");
    EXPECT_EQ(full.target, program);
    EXPECT_EQ(full.workingFolder, temp / L"root");
    EXPECT_EQ(full.icon, program);
    EXPECT_EQ(full.description, L"QuorvelAI");
    EXPECT_EQ(full.appUserModelId, L"com.quorvel.aigamebuilder");
    ShortcutSpec bare;
    bare.target = program;
    bare.arguments = L"--flag \"a b\"";
    bare.workingFolder = temp.path();

    struct Case {
        const wchar_t* file;
        const ShortcutSpec* spec;
    } cases[] = {{L"links\\full.lnk", &full}, {L"deeper\\still\\bare.lnk", &bare}};
    for (const Case& c : cases) {
        std::wstring path = temp / c.file;
        std::wstring message = L"untouched";
        ASSERT_TRUE(writeShortcut(path, *c.spec, &message)) << toUtf8(message);
        EXPECT_EQ(message, L"untouched");
        LinkFields got = readLink(path);
        EXPECT_TRUE(equalsIgnoreCase(got.target, c.spec->target)) << toUtf8(got.target);
        EXPECT_EQ(readShortcutTarget(path), got.target);
        EXPECT_EQ(got.arguments, c.spec->arguments);
        EXPECT_TRUE(equalsIgnoreCase(got.workingFolder, c.spec->workingFolder));
        EXPECT_TRUE(equalsIgnoreCase(got.icon, c.spec->icon)) << toUtf8(got.icon);
        EXPECT_EQ(got.description, c.spec->description);
    }
    // The id cannot be read back under Wine; the calls must succeed.
    EXPECT_EQ(logLines("WARN"), 0u) << logText();
}

// Catches a failed save reported as success, or a message without the
// path; and a file that is no link read as one.
TEST_F(ShortcutTest, FailuresGiveTheMessageOrNothing) {
    test::writeFile(temp / L"file", "in the way");
    std::wstring path = temp / L"file\\x.lnk";
    std::wstring message;
    EXPECT_FALSE(writeShortcut(path, installShortcutSpec(temp.path()), &message));
    EXPECT_EQ(message.rfind(L"Could not save the shortcut " + path + L" (0x", 0), 0u)
        << toUtf8(message);
    EXPECT_EQ(readShortcutTarget(temp / L"file"), L"");
    EXPECT_EQ(readShortcutTarget(temp / L"missing.lnk"), L"");
}

std::vector<std::wstring> sorted(std::vector<std::wstring> paths) {
    std::sort(paths.begin(), paths.end());
    return paths;
}

// Catches other files taken as links, a ".lnk" folder taken as a file,
// subfolders entered when not asked, or folder links followed.
TEST_F(ShortcutTest, ListsLinkFilesAndSkipsFolderLinks) {
    std::wstring f = temp / L"f";
    for (const wchar_t* folder : {L"sub\\deeper", L"dir.lnk"})
        test::makeFolders(joinPath(f, folder));
    test::makeFolders(temp / L"linked");
    for (const wchar_t* file : {L"a.lnk", L"B.LNK", L"c.txt", L".lnk", L"x.lnk.bak",
                                L"sub\\d.lnk", L"sub\\deeper\\e.lnk", L"dir.lnk\\inner.lnk"})
        test::writeFile(joinPath(f, file), "");
    test::writeFile(temp / L"linked\\g.lnk", "");
    bool linked = CreateSymbolicLinkW(longPath(joinPath(f, L"jump")).c_str(),
                                      longPath(temp / L"linked").c_str(),
                                      SYMBOLIC_LINK_FLAG_DIRECTORY |
                                          SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
                  (GetFileAttributesW(longPath(joinPath(f, L"jump")).c_str()) &
                   FILE_ATTRIBUTE_REPARSE_POINT);

    auto in = [&](std::initializer_list<const wchar_t*> names) {
        std::vector<std::wstring> paths;
        for (const wchar_t* name : names) paths.push_back(joinPath(f, name));
        return sorted(paths);
    };
    EXPECT_EQ(sorted(listShortcutFiles(f, false)), in({L"a.lnk", L"B.LNK"}));
    EXPECT_EQ(sorted(listShortcutFiles(f, true)),
              in({L"a.lnk", L"B.LNK", L"sub\\d.lnk", L"sub\\deeper\\e.lnk", L"dir.lnk\\inner.lnk"}));
    EXPECT_TRUE(listShortcutFiles(L"", true).empty());
    EXPECT_TRUE(listShortcutFiles(temp / L"missing", true).empty());
    if (!linked) GTEST_SKIP() << "folder links cannot be made here";
}

// The shortcut sandbox: the user's folders and an install root inside one
// test folder.
enum class Place { Desktop, Programs, Startup, Pinned };

struct Link {
    Place place;
    const wchar_t* name;
    bool inside;          // target relative to the root, else to a folder outside it
    const wchar_t* target;
};

struct Scenario {
    const char* what;
    bool createDesktop;
    bool noShortcuts;
    std::vector<Link> before;
    std::vector<Link> after;                              // present, with these targets
    std::vector<std::pair<Place, const wchar_t*>> gone;   // files or folders
    size_t repointed;                                      // INFO lines for pinned links
};

const wchar_t* const kLauncher = L"QuorvelAI.exe";
const wchar_t* const kOldApp = L"app-1.0.0\\QuorvelAI.exe";

const Scenario kScenarios[] = {
    // Catches a fresh install without its two shortcuts.
    {"fresh install", true, false, {},
     {{Place::Programs, L"QuorvelAI.lnk", true, kLauncher},
      {Place::Desktop, L"QuorvelAI.lnk", true, kLauncher}},
     {}, 0},
    // Catches a desktop shortcut the user deleted coming back on an upgrade.
    {"upgrade without desktop shortcut", false, false,
     {{Place::Programs, L"QuorvelAI.lnk", true, kOldApp}},
     {{Place::Programs, L"QuorvelAI.lnk", true, kLauncher}},
     {{Place::Desktop, L"QuorvelAI.lnk"}}, 0},
    // Catches old links into the root kept, an emptied vendor folder left,
    // or a renamed desktop shortcut not replaced.
    {"earlier installer's layout", false, false,
     {{Place::Programs, L"Quorvel\\QuorvelAI.lnk", true, kOldApp},
      {Place::Desktop, L"Quorvel AI.lnk", true, kOldApp}},
     {{Place::Programs, L"QuorvelAI.lnk", true, kLauncher},
      {Place::Desktop, L"QuorvelAI.lnk", true, kLauncher}},
     {{Place::Programs, L"Quorvel"}, {Place::Desktop, L"Quorvel AI.lnk"}}, 0},
    // Catches links to other programs removed for their name, or a shared
    // folder removed with them.
    {"links outside the root", false, false,
     {{Place::Programs, L"Vendor\\QuorvelAI.lnk", true, kOldApp},
      {Place::Programs, L"Vendor\\Tool.lnk", false, L"tool.exe"},
      {Place::Programs, L"Tools\\QuorvelAI.lnk", false, L"QuorvelAI.exe"},
      {Place::Desktop, L"Other.lnk", false, L"tool.exe"}},
     {{Place::Programs, L"Vendor\\Tool.lnk", false, L"tool.exe"},
      {Place::Programs, L"Tools\\QuorvelAI.lnk", false, L"QuorvelAI.exe"},
      {Place::Desktop, L"Other.lnk", false, L"tool.exe"},
      {Place::Programs, L"QuorvelAI.lnk", true, kLauncher}},
     {{Place::Programs, L"Vendor\\QuorvelAI.lnk"}, {Place::Desktop, L"QuorvelAI.lnk"}}, 0},
    // Catches the autostart link (inside Programs) deleted by every upgrade,
    // or its folder removed once empty.
    {"autostart link kept", false, false,
     {{Place::Startup, L"QuorvelAI.lnk", true, kLauncher}},
     {{Place::Startup, L"QuorvelAI.lnk", true, kLauncher},
      {Place::Programs, L"QuorvelAI.lnk", true, kLauncher}},
     {}, 0},
    // Catches pinned links deleted, renamed, left on the old version, or
    // others re-pointed too.
    {"pinned links re-pointed", false, false,
     {{Place::Pinned, L"QuorvelAI (2).lnk", true, kOldApp},
      {Place::Pinned, L"Other.lnk", false, L"tool.exe"}},
     {{Place::Pinned, L"QuorvelAI (2).lnk", true, kLauncher},
      {Place::Pinned, L"Other.lnk", false, L"tool.exe"}},
     {{Place::Pinned, L"QuorvelAI.lnk"}}, 1},
    // Catches --no-shortcuts still creating, deleting or re-pointing.
    {"--no-shortcuts", true, true,
     {{Place::Desktop, L"Old.lnk", true, kOldApp},
      {Place::Pinned, L"P.lnk", true, kOldApp},
      {Place::Programs, L"Quorvel\\QuorvelAI.lnk", true, kOldApp}},
     {{Place::Desktop, L"Old.lnk", true, kOldApp},
      {Place::Pinned, L"P.lnk", true, kOldApp},
      {Place::Programs, L"Quorvel\\QuorvelAI.lnk", true, kOldApp}},
     {{Place::Programs, L"QuorvelAI.lnk"}, {Place::Desktop, L"QuorvelAI.lnk"}}, 0},
};

class ShortcutSandbox : public ShortcutTest {
protected:
    std::wstring root = temp / L"Local\\QuorvelAI";
    std::wstring outside = temp / L"Elsewhere";
    ShortcutFolders folders;

    void SetUp() override {
        ShortcutTest::SetUp();
        folders.desktop = temp / L"user\\Desktop";
        folders.programs = temp / L"user\\Start Menu\\Programs";
        folders.startup = joinPath(folders.programs, L"Startup");
        folders.pinned = temp / L"user\\Quick Launch\\User Pinned\\TaskBar";
        for (const std::wstring& folder :
             {folders.desktop, folders.startup, folders.pinned, root + L"\\app-1.0.0", outside})
            test::makeFolders(folder);
        for (const std::wstring& program : {joinPath(root, kLauncher), joinPath(root, kOldApp),
                                            joinPath(outside, L"tool.exe"),
                                            joinPath(outside, L"QuorvelAI.exe")})
            test::writeFile(program, "MZ");
    }

    std::wstring folderOf(Place place) const {
        switch (place) {
        case Place::Desktop: return folders.desktop;
        case Place::Programs: return folders.programs;
        case Place::Startup: return folders.startup;
        case Place::Pinned: return folders.pinned;
        }
        return {};
    }
    std::wstring targetOf(const Link& link) const {
        return joinPath(link.inside ? root : outside, link.target);
    }
};

TEST_F(ShortcutSandbox, BringsTheShortcutSetInLine) {
    for (const Scenario& s : kScenarios) {
        SCOPED_TRACE(s.what);
        // Each scenario starts from empty user folders.
        for (Place place : {Place::Desktop, Place::Pinned, Place::Startup})
            test::makeFolders(folderOf(place));
        for (Place place : {Place::Desktop, Place::Pinned, Place::Programs}) {
            for (const std::wstring& link : listShortcutFiles(folderOf(place), true))
                DeleteFileW(longPath(link).c_str());
        }
        for (const Link& link : s.before) {
            ShortcutSpec spec;
            spec.target = targetOf(link);
            ASSERT_TRUE(writeShortcut(joinPath(folderOf(link.place), link.name), spec));
        }
        size_t repointedBefore = logLines("INFO  Re-pointed pinned shortcut ");

        SetupOptions options;
        options.noShortcuts = s.noShortcuts;
        SetupContext context(options, nullptr, nullptr);
        updateShortcuts(context, root, s.createDesktop, folders);

        for (const Link& link : s.after) {
            std::wstring path = joinPath(folderOf(link.place), link.name);
            EXPECT_TRUE(equalsIgnoreCase(readShortcutTarget(path), targetOf(link)))
                << toUtf8(path) << " -> " << toUtf8(readShortcutTarget(path));
        }
        for (const auto& [place, name] : s.gone) {
            std::wstring path = joinPath(folderOf(place), name);
            EXPECT_EQ(GetFileAttributesW(longPath(path).c_str()), INVALID_FILE_ATTRIBUTES)
                << toUtf8(path);
        }
        EXPECT_TRUE(isFolder(folders.startup));
        EXPECT_EQ(logLines("INFO  Re-pointed pinned shortcut "), repointedBefore + s.repointed);
        // Leftover subfolders of one scenario must not hide the next one's.
        for (const wchar_t* sub : {L"Quorvel", L"Vendor", L"Tools"}) {
            std::wstring folder = joinPath(folders.programs, sub);
            for (const std::wstring& link : listShortcutFiles(folder, true))
                DeleteFileW(longPath(link).c_str());
            RemoveDirectoryW(longPath(folder).c_str());
        }
    }
    EXPECT_EQ(logLines("WARN"), 0u) << logText();
}

// Catches a shortcut written into the current folder when the shell knows
// no Start-menu or desktop folder.
TEST_F(ShortcutSandbox, UnknownFoldersGetNoShortcut) {
    ShortcutFolders none;
    SetupContext context(SetupOptions{}, nullptr, nullptr);
    std::wstring here = temp / L"here";
    test::makeFolders(here);
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW(here.c_str());
    updateShortcuts(context, root, true, none);
    SetCurrentDirectoryW(previous);
    EXPECT_FALSE(isFile(joinPath(here, L"QuorvelAI.lnk")));
    EXPECT_EQ(logLines("WARN  Could not find the "), 2u) << logText();
}

}  // namespace
}  // namespace qv
