#include "setup/install/shortcuts.h"

#include "foundation/files.h"
#include "foundation/folder_tree.h"
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "tests/install/logged_test.h"
#include "tests/support/folder_link.h"

#include <propkey.h>
#include <propsys.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

namespace qv {
namespace {

// The user's folders and an install root, all inside the test's folder.
class ShortcutTest : public test::LoggedTest {
protected:
    ComApartment apartment;  // shell links need an STA on this thread
    std::wstring root = temp / L"Local\\QuorvelAI";
    std::wstring outside = temp / L"Elsewhere";
    ShortcutFolders folders{temp / L"Desktop", temp / L"Programs", temp / L"Programs\\Startup",
                            temp / L"TaskBar"};
    void SetUp() override {
        LoggedTest::SetUp();
        ASSERT_TRUE(SUCCEEDED(apartment.result()));
        test::makeFolders(root + L"\\app-1.0.0");
        test::makeFolders(outside);
        for (const std::wstring& program :
             {root + L"\\QuorvelAI.exe", root + L"\\app-1.0.0\\QuorvelAI.exe",
              outside + L"\\tool.exe", outside + L"\\QuorvelAI.exe"})
            test::writeFile(program, "MZ");
    }
};

// Catches a field not set or set from the wrong member, optional fields set
// when empty, a missing parent folder not made, or a failed save reported
// as success or without the path.
TEST_F(ShortcutTest, WrittenFieldsReadBack) {
    ShortcutSpec full = installShortcutSpec(root), bare;
    bare.target = outside + L"\\tool.exe";
    bare.arguments = L"--flag \"a b\"";
    bare.workingFolder = outside;
    for (const ShortcutSpec* spec : {&full, &bare}) {
        std::wstring path = temp / (spec == &full ? L"a\\full.lnk" : L"b\\c\\bare.lnk");
        ASSERT_TRUE(writeShortcut(path, *spec));
        ComPtr<IShellLinkW> link;
        ComPtr<IPersistFile> file;
        ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                               __uuidof(IShellLinkW), link.putVoid())) &&
                    SUCCEEDED(link.as(file)) && SUCCEEDED(file->Load(path.c_str(), STGM_READ)));
        wchar_t text[5][1040] = {};
        int icon = -1;
        link->GetArguments(text[0], 1040);
        link->GetWorkingDirectory(text[1], 1040);
        link->GetIconLocation(text[2], 1040, &icon);
        link->GetDescription(text[3], 1040);
        EXPECT_TRUE(equalsIgnoreCase(readShortcutTarget(path), spec->target));
        EXPECT_EQ(text[0], spec->arguments);
        EXPECT_TRUE(equalsIgnoreCase(text[1], spec->workingFolder));
        EXPECT_TRUE(equalsIgnoreCase(text[2], spec->icon)) << toUtf8(text[2]);
        EXPECT_EQ(text[3], spec->description);
    }
    EXPECT_EQ(full.appUserModelId, L"com.quorvel.aigamebuilder");
    EXPECT_EQ(logLines("WARN"), 0u);  // the id cannot be read back under Wine: see below

    test::writeFile(temp / L"file", "in the way");
    std::wstring message;
    EXPECT_FALSE(writeShortcut(temp / L"file\\x.lnk", full, &message));
    EXPECT_EQ(message.rfind(L"Could not save the shortcut " + temp / L"file\\x.lnk" + L" (0x", 0),
              0u);
    EXPECT_EQ(readShortcutTarget(temp / L"file"), L"");
}

// A property store that records what is stored in it. Wine's shell link
// offers one that keeps nothing, so what the id write asks for is seen here.
class RecordingStore final : public IPropertyStore {
public:
    bool offered = true;
    HRESULT setAnswer = S_OK, commitAnswer = S_OK;
    int sets = 0, commits = 0;
    PROPERTYKEY key{};
    VARTYPE type = VT_EMPTY;
    std::wstring text;
    ULONG references = 1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (iid != __uuidof(IUnknown) && (iid != __uuidof(IPropertyStore) || !offered))
            return E_NOINTERFACE;
        *out = static_cast<IPropertyStore*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE GetCount(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY, PROPVARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY stored, REFPROPVARIANT value) override {
        ++sets;
        key = stored;
        type = value.vt;
        if (value.vt == VT_LPWSTR && value.pwszVal) text = value.pwszVal;
        return setAnswer;
    }
    HRESULT STDMETHODCALLTYPE Commit() override {
        ++commits;
        return commitAnswer;
    }
};

// Catches the id stored under another key or type, or not committed; a
// refusal not reported, a commit after a refused value, a link without a
// store taken for a failure, and a store left referenced.
TEST_F(ShortcutTest, TheAppUserModelIdIsStoredAndCommitted) {
    struct Case {
        const char* name;
        bool offered;
        HRESULT setAnswer, commitAnswer;
        int sets, commits;
        const char* warning;  // nullptr: none
    } cases[] = {
        {"stored", true, S_OK, S_OK, 1, 1, nullptr},
        {"value refused", true, E_ACCESSDENIED, S_OK, 1, 0, "(0x80070005)"},
        {"commit refused", true, S_OK, E_FAIL, 1, 1, "(0x80004005)"},
        {"no store", false, S_OK, S_OK, 0, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingStore store;
        store.offered = c.offered;
        store.setAnswer = c.setAnswer;
        store.commitAnswer = c.commitAnswer;
        size_t warnings = logLines("WARN");
        setAppUserModelId(&store, L"C:\\x.lnk", L"com.quorvel.aigamebuilder");
        EXPECT_EQ(store.sets, c.sets);
        EXPECT_EQ(store.commits, c.commits);
        EXPECT_EQ(store.references, 1u);
        if (c.sets) {
            EXPECT_TRUE(IsEqualPropertyKey(store.key, PKEY_AppUserModel_ID));
            EXPECT_EQ(store.type, VT_LPWSTR);
            EXPECT_EQ(store.text, L"com.quorvel.aigamebuilder");
        }
        EXPECT_EQ(logLines("WARN"), warnings + (c.warning ? 1 : 0));
        if (c.warning) {
            EXPECT_EQ(logLines(std::string("WARN  Could not set the AppUserModelID of C:\\x.lnk ") + c.warning), 1u);
        }
    }
}

// Catches other files taken as links, a ".lnk" folder taken as a file,
// subfolders entered when not asked, or folder links followed.
TEST_F(ShortcutTest, ListsLinkFilesWithoutFollowingFolderLinks) {
    std::wstring f = temp / L"f";
    test::makeFolders(f + L"\\sub\\deeper");
    test::makeFolders(f + L"\\dir.lnk");
    for (const wchar_t* file : {L"a.lnk", L"B.LNK", L"c.txt", L".lnk", L"x.lnk.bak", L"sub\\d.lnk",
                                L"sub\\deeper\\e.lnk", L"dir.lnk\\i.lnk"})
        test::writeFile(joinPath(f, file), "");
    test::writeFile(outside + L"\\g.lnk", "");  // reached only through the folder link
    bool linked = test::makeFolderLink(f + L"\\jump", outside);
    ScopeGuard unlink([&] { test::removeFolderLink(f + L"\\jump"); });
    auto listed = [&](bool recursive) {
        std::vector<std::wstring> names;
        for (const std::wstring& path : listShortcutFiles(f, recursive))
            names.push_back(path.substr(f.size() + 1));
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_EQ(listed(false), (std::vector<std::wstring>{L"B.LNK", L"a.lnk"}));
    EXPECT_EQ(listed(true), (std::vector<std::wstring>{L"B.LNK", L"a.lnk", L"dir.lnk\\i.lnk",
                                                       L"sub\\d.lnk", L"sub\\deeper\\e.lnk"}));
    EXPECT_TRUE(listShortcutFiles(L"", true).empty());
    if (!linked) GTEST_SKIP() << "no folder link could be made here; the link was not listed";
}

enum Place { Desktop, Programs, Startup, Pinned };
enum Target { Launcher, OldApp, Tool, OtherQuorvel };  // the first two inside the root
struct Link {
    Place place;
    const wchar_t* name;
    Target target;
    const wchar_t* arguments = L"";
};
struct Scenario {
    const char* what;
    bool createDesktop, noShortcuts;
    std::vector<Link> before, after;  // after: present, with these targets
    std::vector<std::pair<Place, const wchar_t*>> gone;
};

const Scenario kScenarios[] = {
    // Catches a fresh install without its two shortcuts.
    {"fresh install", true, false, {},
     {{Programs, L"QuorvelAI.lnk", Launcher}, {Desktop, L"QuorvelAI.lnk", Launcher}}, {}},
    // Catches a desktop shortcut the user deleted coming back on an upgrade.
    {"upgrade without desktop shortcut", false, false, {{Programs, L"QuorvelAI.lnk", OldApp}},
     {{Programs, L"QuorvelAI.lnk", Launcher}}, {{Desktop, L"QuorvelAI.lnk"}}},
    // Catches old links kept, an emptied vendor folder left, or a renamed
    // desktop shortcut not replaced.
    {"earlier installer's layout", false, false,
     {{Programs, L"Quorvel\\QuorvelAI.lnk", OldApp}, {Desktop, L"Quorvel AI.lnk", OldApp}},
     {{Programs, L"QuorvelAI.lnk", Launcher}, {Desktop, L"QuorvelAI.lnk", Launcher}},
     {{Programs, L"Quorvel"}, {Desktop, L"Quorvel AI.lnk"}}},
    // Catches links to other programs removed for their name, or a folder
    // still holding something removed.
    {"links outside the root", false, false,
     {{Programs, L"Vendor\\QuorvelAI.lnk", OldApp}, {Programs, L"Vendor\\Tool.lnk", Tool},
      {Programs, L"Tools\\QuorvelAI.lnk", OtherQuorvel}, {Desktop, L"Tool.lnk", Tool}},
     {{Programs, L"Vendor\\Tool.lnk", Tool}, {Programs, L"Tools\\QuorvelAI.lnk", OtherQuorvel},
      {Desktop, L"Tool.lnk", Tool}},
     {{Programs, L"Vendor\\QuorvelAI.lnk"}, {Desktop, L"QuorvelAI.lnk"}}},
    // Catches the autostart link (inside Programs) deleted by every upgrade,
    // left on a version folder that a later prune removes, or re-pointed
    // without its arguments; links that work left alone.
    {"autostart links kept", false, false,
     {{Startup, L"QuorvelAI.lnk", OldApp, L"--minimized \"a b\""}, {Startup, L"Launcher.lnk", Launcher, L"-x"},
      {Startup, L"Tool.lnk", Tool, L"-y"}},
     {{Startup, L"QuorvelAI.lnk", Launcher, L"--minimized \"a b\""}, {Startup, L"Launcher.lnk", Launcher, L"-x"},
      {Startup, L"Tool.lnk", Tool, L"-y"}},
     {}},
    // Catches pinned links deleted, renamed or left on the old version, or
    // others re-pointed too.
    {"pinned links re-pointed", false, false,
     {{Pinned, L"QuorvelAI (2).lnk", OldApp}, {Pinned, L"Tool.lnk", Tool}},
     {{Pinned, L"QuorvelAI (2).lnk", Launcher}, {Pinned, L"Tool.lnk", Tool}},
     {{Pinned, L"QuorvelAI.lnk"}}},
    // Catches --no-shortcuts still creating, deleting or re-pointing.
    {"--no-shortcuts", true, true,
     {{Desktop, L"Old.lnk", OldApp}, {Pinned, L"P.lnk", OldApp}, {Programs, L"Q\\A.lnk", OldApp}},
     {{Desktop, L"Old.lnk", OldApp}, {Pinned, L"P.lnk", OldApp}, {Programs, L"Q\\A.lnk", OldApp}},
     {{Programs, L"QuorvelAI.lnk"}, {Desktop, L"QuorvelAI.lnk"}}},
};

TEST_F(ShortcutTest, UpdateBringsTheShortcutSetInLine) {
    const std::wstring* placeFolder[] = {&folders.desktop, &folders.programs, &folders.startup,
                                         &folders.pinned};
    const std::wstring targets[] = {root + L"\\QuorvelAI.exe", root + L"\\app-1.0.0\\QuorvelAI.exe",
                                    outside + L"\\tool.exe", outside + L"\\QuorvelAI.exe"};
    for (const Scenario& s : kScenarios) {
        SCOPED_TRACE(s.what);
        for (const std::wstring* folder : placeFolder) {
            removeTree(*folder);
            test::makeFolders(*folder);
        }
        for (const Link& link : s.before) {
            ShortcutSpec spec;
            spec.target = targets[link.target];
            spec.arguments = link.arguments;
            ASSERT_TRUE(writeShortcut(joinPath(*placeFolder[link.place], link.name), spec));
        }
        size_t repointed = logLines("INFO  Re-pointed pinned shortcut ");
        size_t autostartRepointed = logLines("INFO  Re-pointed autostart shortcut ");
        SetupOptions options;
        options.noShortcuts = s.noShortcuts;
        updateShortcuts(SetupContext(options, nullptr, nullptr), root, s.createDesktop, folders);

        std::vector<Link> after = s.after;
        if (!s.noShortcuts) after.push_back({Programs, L"QuorvelAI.lnk", Launcher});
        for (const Link& link : after) {
            std::wstring path = joinPath(*placeFolder[link.place], link.name);
            EXPECT_TRUE(equalsIgnoreCase(readShortcutTarget(path), targets[link.target]))
                << toUtf8(path);
            EXPECT_EQ(readShortcutArguments(path), link.arguments) << toUtf8(path);
        }
        for (const auto& [place, name] : s.gone)
            EXPECT_EQ(GetFileAttributesW(longPath(joinPath(*placeFolder[place], name)).c_str()),
                      INVALID_FILE_ATTRIBUTES)
                << toUtf8(name);
        EXPECT_TRUE(isFolder(folders.startup));
        bool pinned = std::string(s.what) == "pinned links re-pointed";
        EXPECT_EQ(logLines("INFO  Re-pointed pinned shortcut "), repointed + (pinned ? 1 : 0));
        // Only the link that would break is rewritten; the others stay as the user made them.
        bool autostart = std::string(s.what) == "autostart links kept";
        EXPECT_EQ(logLines("INFO  Re-pointed autostart shortcut "), autostartRepointed + (autostart ? 1 : 0));
    }
    EXPECT_EQ(logLines("WARN"), 0u);
}

// Catches a shortcut written into the current folder when the shell knows
// no Start-menu or desktop folder.
TEST_F(ShortcutTest, UnknownFoldersGetNoShortcut) {
    test::makeFolders(temp / L"here");
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    SetCurrentDirectoryW((temp / L"here").c_str());
    updateShortcuts(SetupContext(SetupOptions{}, nullptr, nullptr), root, true, ShortcutFolders{});
    SetCurrentDirectoryW(previous);
    EXPECT_FALSE(isFile(temp / L"here\\QuorvelAI.lnk"));
    EXPECT_EQ(logLines("WARN  Could not find the "), 2u);
}

}  // namespace
}  // namespace qv
