// End to end: the real setup program installs, upgrades, repairs and takes
// over installs from the local release server, in folders of the test's own.
#include "install_run_support.h"

#include "foundation/folder_tree.h"
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "tests/support/http_control.h"

#include <shlobj.h>
#include <shobjidl.h>

namespace qv::test {
namespace {

bool exists(const std::wstring& path) {
    return GetFileAttributesW(longPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct LinkFields {
    std::wstring target, arguments, workingFolder;
};

LinkFields readLink(const std::wstring& path) {
    LinkFields fields;
    ComApartment apartment;
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.putVoid())))
        return fields;
    ComPtr<IPersistFile> file;
    if (FAILED(link.as(file)) || FAILED(file->Load(path.c_str(), STGM_READ))) return fields;
    wchar_t buffer[1040] = {};
    if (SUCCEEDED(link->GetPath(buffer, 1040, nullptr, 0))) fields.target = buffer;
    buffer[0] = 0;
    if (SUCCEEDED(link->GetArguments(buffer, 1040))) fields.arguments = buffer;
    buffer[0] = 0;
    if (SUCCEEDED(link->GetWorkingDirectory(buffer, 1040))) fields.workingFolder = buffer;
    return fields;
}

bool sameBytes(const std::wstring& a, const std::wstring& b) { return readFile(a) == readFile(b); }

using InstallRun = InstallRunTest;

// Catches a fresh install that misses a layout entry, a value of the
// uninstall entry, a shortcut field, the stamp, or leaves the download behind.
TEST_F(InstallRun, FreshInstallLaysOutRegistersAndLinks) {
    std::wstring setup = temp / L"QuorvelAI-Setup at_ABCDEFGHIJKLMNOP.exe";
    ASSERT_TRUE(CopyFileW(setupProgram().c_str(), setup.c_str(), FALSE));
    std::wstring root = temp / L"Quorvel AI";
    // A folder named like the earlier installer's is the user's until an install is there.
    makeFolders(root + L"\\packages");
    writeFile(root + L"\\packages\\mine.txt", "mine");
    SetupRun run = runSetup(temp.path(), silentArguments("good", "1.0.0", root), setup);
    ASSERT_TRUE(run.result.finished);
    ASSERT_EQ(run.result.exitCode, 0u) << run.log;
    EXPECT_TRUE(run.has("(fresh install)")) << run.log;
    EXPECT_EQ(readFile(root + L"\\packages\\mine.txt"), "mine");

    EXPECT_TRUE(sameBytes(root + L"\\QuorvelAI.exe", binFolder() + L"\\QuorvelAI.exe"));
    EXPECT_TRUE(sameBytes(root + L"\\Uninstall.exe", setup));
    EXPECT_TRUE(exists(root + L"\\app-1.0.0\\QuorvelAI.exe"));
    EXPECT_TRUE(exists(root + L"\\app-1.0.0\\resources\\data.bin"));
    EXPECT_FALSE(exists(root + L"\\app-1.0.0.tmp"));
    EXPECT_FALSE(exists(root + L"\\QuorvelAI.exe.new"));
    // A silent first install does not start the app.
    EXPECT_FALSE(exists(root + L"\\app-1.0.0\\demo-started.txt"));
    // The proved download goes once it is installed.
    EXPECT_TRUE(listFolderNames(temp / L"QuorvelAI-Setup").empty());

    SYSTEMTIME today;
    GetLocalTime(&today);
    std::wstring quoted = L"\"" + root + L"\\Uninstall.exe\"";
    struct Value { const wchar_t* name; std::wstring text; };
    const Value texts[] = {
        {L"DisplayName", L"QuorvelAI"},
        {L"DisplayVersion", L"1.0.0"},
        {L"Publisher", L"Quorvel, LLC"},
        {L"DisplayIcon", root + L"\\app-1.0.0\\QuorvelAI.exe,0"},
        {L"InstallLocation", root},
        {L"UninstallString", quoted + L" --uninstall"},
        {L"QuietUninstallString", quoted + L" --uninstall --silent"},
        {L"InstallDate", formatText(L"%04u%02u%02u", today.wYear, today.wMonth, today.wDay)},
        {L"SetupVersion", L"1.0.0"},
    };
    for (const Value& value : texts) EXPECT_EQ(entryText(value.name), value.text) << value.name;
    EXPECT_EQ(entryNumber(L"NoModify"), 1);
    EXPECT_EQ(entryNumber(L"NoRepair"), 1);
    EXPECT_EQ(entryNumber(L"EstimatedSize"),
              static_cast<int64_t>(manifestNumber("good", "1.0.0", "unpackedSize") / 1024));

    for (REFKNOWNFOLDERID id : {FOLDERID_Programs, FOLDERID_Desktop}) {
        LinkFields link = readLink(knownFolderPath(id) + L"\\QuorvelAI.lnk");
        EXPECT_TRUE(equalsIgnoreCase(link.target, root + L"\\QuorvelAI.exe")) << link.target;
        EXPECT_EQ(link.arguments, L"");
        EXPECT_TRUE(equalsIgnoreCase(link.workingFolder, root)) << link.workingFolder;
    }
    EXPECT_EQ(readFile(knownFolderPath(FOLDERID_RoamingAppData) + L"\\quorvelai\\attribution.json"),
              "{\"aid\":\"at_ABCDEFGHIJKLMNOP\",\"source\":\"setup\"}\n");
    EXPECT_TRUE(launcherStartsVersion(root, L"1.0.0"));
}

// Catches an upgrade that loses the fallback version or keeps too many, an
// --update that downloads what is installed or skips what is not registered,
// --no-launch ignored, a desktop shortcut the user never had, a root outside
// the profile made with inherited permissions, and a repair that keeps stale files.
TEST_F(InstallRun, UpgradesUpdatesAndRepairs) {
    // Outside the user's profile, as the drive-root fallback is.
    std::wstring root = formatText(L"C:\\qv-upgrades-%lu-%llu", GetCurrentProcessId(), GetTickCount64());
    ScopeGuard removeRoot([&] { removeTree(root); });
    for (const char* version : {"1.0.0", "1.1.0"}) {
        SetupRun run = runSetup(temp.path(), silentArguments("good", version, root) + L" --no-shortcuts");
        ASSERT_EQ(run.result.exitCode, 0u) << run.log;
        bool created = std::string(version) == "1.0.0";
        EXPECT_EQ(run.has("INFO  Created " + toUtf8(root) + " for this user only\r\n"), created) << run.log;
    }
    SetupRun upgrade = runSetup(temp.path(), silentArguments("good", "1.2.0", root) + L" --update");
    ASSERT_EQ(upgrade.result.exitCode, 0u) << upgrade.log;
    EXPECT_TRUE(upgrade.has("(upgrade)")) << upgrade.log;
    EXPECT_TRUE(exists(root + L"\\app-1.2.0\\QuorvelAI.exe"));
    EXPECT_TRUE(exists(root + L"\\app-1.1.0\\QuorvelAI.exe"));
    EXPECT_FALSE(exists(root + L"\\app-1.0.0"));
    EXPECT_EQ(entryText(L"DisplayVersion"), L"1.2.0");
    EXPECT_TRUE(exists(knownFolderPath(FOLDERID_Programs) + L"\\QuorvelAI.lnk"));
    EXPECT_FALSE(exists(knownFolderPath(FOLDERID_Desktop) + L"\\QuorvelAI.lnk"));
    // An update started by the app starts it again.
    EXPECT_TRUE(upgrade.has("INFO  Started " + toUtf8(root) + "\\QuorvelAI.exe")) << upgrade.log;
    EXPECT_TRUE(waitForFile(root + L"\\app-1.2.0\\demo-started.txt", 10000));

    ServerControl control;
    ASSERT_TRUE(control.reset());
    std::wstring update = silentArguments("good", "1.2.0", root) + L" --update --no-launch";
    SetupRun current = runSetup(temp.path(), update);
    ASSERT_EQ(current.result.exitCode, 0u) << current.log;
    EXPECT_TRUE(current.has("1.2.0 is already installed in ")) << current.log;
    EXPECT_FALSE(current.has("INFO  Started ")) << current.log;
    EXPECT_EQ(control.requestsFor(payloadPath("good", "1.2.0")).size(), 0u);

    // The files are in place but the entry does not register them (a run
    // ended right after the switch-over): --update installs again.
    const std::pair<const wchar_t*, const wchar_t*> unregistered[] = {
        {nullptr, nullptr}, {L"InstallLocation", L"C:\\elsewhere"}, {L"DisplayVersion", L"1.1.0"}};
    for (const auto& [name, value] : unregistered) {
        std::string what = name ? toUtf8(name) : "no entry";
        if (!name) RegDeleteTreeW(HKEY_CURRENT_USER, uninstallKey);
        if (name)
            RegSetKeyValueW(HKEY_CURRENT_USER, uninstallKey, name, REG_SZ, value,
                            static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
        ASSERT_TRUE(control.reset());
        SetupRun run = runSetup(temp.path(), update);
        EXPECT_EQ(run.result.exitCode, 0u) << what << "\n" << run.log;
        EXPECT_FALSE(run.has("is already installed")) << what << "\n" << run.log;
        EXPECT_FALSE(run.has("INFO  Started ")) << what << "\n" << run.log;
        EXPECT_GT(control.requestsFor(payloadPath("good", "1.2.0")).size(), 0u) << what;
        EXPECT_TRUE(equalsIgnoreCase(entryText(L"InstallLocation"), root)) << what;
        EXPECT_EQ(entryText(L"DisplayVersion"), L"1.2.0") << what;
    }

    writeFile(root + L"\\app-1.2.0\\stale.txt", "left over");
    SetupRun repair = runSetup(temp.path(), silentArguments("good", "1.2.0", root) + L" --no-launch");
    ASSERT_EQ(repair.result.exitCode, 0u) << repair.log;
    EXPECT_FALSE(exists(root + L"\\app-1.2.0\\stale.txt"));
    EXPECT_FALSE(exists(root + L"\\app-1.2.0.old"));
    EXPECT_TRUE(exists(root + L"\\app-1.1.0\\QuorvelAI.exe"));
    EXPECT_TRUE(launcherStartsVersion(root, L"1.2.0"));
}

// Catches a takeover that leaves Squirrel's files, prunes the wrong
// version, keeps its copy of squirrel.exe or stamps an old install.
TEST_F(InstallRun, TakesOverASquirrelInstall) {
    std::wstring root = temp / L"squirrel";
    std::wstring demo = binFolder() + L"\\qv-demo-app.exe";
    for (const wchar_t* version : {L"0.9.0", L"0.9.5"}) {
        makeFolders(root + L"\\app-" + version);
        ASSERT_TRUE(CopyFileW(demo.c_str(), (root + L"\\app-" + version + L"\\QuorvelAI.exe").c_str(), FALSE));
        writeFile(root + L"\\app-" + version + L"\\squirrel.exe", "squirrel");
    }
    makeFolders(root + L"\\packages");
    writeFile(root + L"\\Update.exe", "squirrel updater");
    writeFile(root + L"\\QuorvelAI.exe", "squirrel stub");
    writeFile(root + L"\\SquirrelSetup.log", "log");
    writeFile(root + L"\\packages\\QuorvelAI-0.9.5-full.nupkg", "package");

    // Named with an attribution id, which only a fresh install may stamp.
    std::wstring setup = temp / L"QuorvelAI-Setup at_ABCDEFGHIJKLMNOP.exe";
    ASSERT_TRUE(CopyFileW(setupProgram().c_str(), setup.c_str(), FALSE));
    SetupRun run = runSetup(temp.path(), silentArguments("good", "1.0.0", root) + L" --no-shortcuts --launch", setup);
    ASSERT_EQ(run.result.exitCode, 0u) << run.log;
    EXPECT_TRUE(run.has("(upgrade from Squirrel)")) << run.log;
    // --launch starts the app even after a silent run.
    EXPECT_TRUE(waitForFile(root + L"\\app-1.0.0\\demo-started.txt", 10000));
    for (const wchar_t* gone : {L"Update.exe", L"SquirrelSetup.log", L"packages", L"app-0.9.0",
                                L"app-0.9.5\\squirrel.exe"})
        EXPECT_FALSE(exists(root + L"\\" + gone)) << gone;
    EXPECT_TRUE(exists(root + L"\\app-0.9.5\\QuorvelAI.exe"));
    EXPECT_TRUE(sameBytes(root + L"\\QuorvelAI.exe", binFolder() + L"\\QuorvelAI.exe"));
    EXPECT_FALSE(exists(knownFolderPath(FOLDERID_RoamingAppData) + L"\\quorvelai\\attribution.json"));
    EXPECT_TRUE(launcherStartsVersion(root, L"1.0.0"));
}

// Catches a folder check that is skipped, runs late (after a download), or
// reports the wrong code.
TEST_F(InstallRun, RefusesUnusableFolders) {
    std::wstring projects = knownFolderPath(FOLDERID_Documents) + L"\\QuorvelAI\\Game";
    struct Case { const char* name; std::wstring root; std::string variant, version; const char* code; };
    const Case cases[] = {
        {"foreign files", temp / L"busy", "good", "1.0.0", "QV-DIR-4"},
        {"projects folder", projects, "good", "1.0.0", "QV-DIR-4"},
        {"path too long", temp / std::wstring(230, L'p'), "good", "1.0.0", "QV-PATH-1"},
        {"no room", temp / L"small", "huge", "2.0.0", "QV-DISK-1"},
        {"a file in the way", temp / L"afile\\root", "good", "1.0.0", "QV-DIR-2"},
    };
    writeFile(temp / L"afile", "a file where a folder should be");
    makeFolders(temp / L"busy");
    writeFile(temp / L"busy\\notes.txt", "mine");
    ServerControl control;
    for (const Case& c : cases) {
        ASSERT_TRUE(control.reset());
        SetupRun run = runSetup(temp.path(), silentArguments(c.variant, c.version, c.root));
        EXPECT_EQ(run.result.exitCode, 1u) << c.name;
        EXPECT_TRUE(run.has(std::string("ERROR ") + c.code + ": ")) << c.name << "\n" << run.log;
        EXPECT_EQ(control.requestsFor(payloadPath(c.variant, c.version)).size(), 0u) << c.name;
        EXPECT_FALSE(exists(c.root + L"\\app-" + fromUtf8(c.version))) << c.name;
    }
    EXPECT_EQ(readFile(temp / L"busy\\notes.txt"), "mine");
    EXPECT_FALSE(exists(projects));
    removeTree(knownFolderPath(FOLDERID_Documents) + L"\\QuorvelAI");
}

// Catches a fallback that replaces a named folder, is not taken when the
// default is unusable, or a registered install that is not found again.
TEST_F(InstallRun, FallsBackFromAnUnusableDefaultAndFindsItAgain) {
    std::wstring defaultFolder = knownFolderPath(FOLDERID_LocalAppData) + L"\\QuorvelAI";
    std::wstring fallback = environmentVariable(L"USERPROFILE") + L"\\QuorvelAI";
    removeTree(fallback);
    removeTree(defaultFolder);
    makeFolders(parentFolder(defaultFolder));
    writeFile(defaultFolder, "a file where the folder should be");
    std::wstring arguments = L"--silent --no-shortcuts --base-url " + releaseUrl("good") + L" --version ";

    SetupRun first = runSetup(temp.path(), arguments + L"1.0.0");
    EXPECT_EQ(first.result.exitCode, 0u) << first.log;
    EXPECT_TRUE(first.has("WARN  Default folder unusable, using " + toUtf8(fallback) + "\r\n")) << first.log;
    EXPECT_FALSE(first.has(" for this user only")) << first.log;  // inside the profile
    EXPECT_TRUE(exists(fallback + L"\\app-1.0.0\\QuorvelAI.exe"));

    // The next run finds the install through its uninstall entry.
    SetupRun second = runSetup(temp.path(), arguments + L"1.1.0");
    EXPECT_EQ(second.result.exitCode, 0u) << second.log;
    EXPECT_TRUE(second.has("(existing install: " + toUtf8(fallback) + ")")) << second.log;
    EXPECT_TRUE(exists(fallback + L"\\app-1.1.0\\QuorvelAI.exe"));

    // A folder named with --dir is never replaced.
    SetupRun named = runSetup(temp.path(), silentArguments("good", "1.0.0", defaultFolder));
    EXPECT_EQ(named.result.exitCode, 1u) << named.log;
    EXPECT_FALSE(named.has("Default folder unusable")) << named.log;
    DeleteFileW(longPath(defaultFolder).c_str());
    removeTree(fallback);
}

// Catches a setup that only works against the project's own server: the
// static host publishers use must give a fresh install and a resumed download.
TEST_F(InstallRun, InstallsAndResumesThroughNginx) {
    std::wstring url = environmentVariable(L"QV_TEST_NGINX_URL");
    std::wstring accessLog = environmentVariable(L"QV_TEST_NGINX_ACCESS_LOG");
    if (url.empty()) GTEST_SKIP() << "needs tests/install_run/with_nginx.sh";
    std::wstring root = temp / L"root";
    std::wstring arguments = L"--silent --no-shortcuts --base-url " + url + L"/good --dir \"" + root + L"\" --version ";
    SetupRun fresh = runSetup(temp.path(), arguments + L"1.0.0");
    ASSERT_EQ(fresh.result.exitCode, 0u) << fresh.log;

    // Half of 1.1.0's payload is already on disk from an earlier try.
    std::string payload = readFile(publishedVersionFolder("good", "1.1.0") + L"\\QuorvelAI-1.1.0-win-x64.tar.xz");
    ASSERT_GT(payload.size(), 1000u);
    std::string hash = manifestText("good", "1.1.0", "payloadSha256");
    std::wstring part = temp / (L"QuorvelAI-Setup\\QuorvelAI-1.1.0-" + fromUtf8(hash.substr(0, 12)) + L".tar.xz.part");
    makeFolders(temp / L"QuorvelAI-Setup");
    writeFile(part, payload.substr(0, payload.size() / 2));
    SetupRun resumed = runSetup(temp.path(), arguments + L"1.1.0");
    ASSERT_EQ(resumed.result.exitCode, 0u) << resumed.log;
    EXPECT_TRUE(resumed.has("INFO  Continuing download at byte " + std::to_string(payload.size() / 2))) << resumed.log;
    EXPECT_TRUE(launcherStartsVersion(root, L"1.1.0"));
    for (wchar_t& c : accessLog)
        if (c == L'/') c = L'\\';
    std::string served = readFile(L"Z:" + accessLog);
    EXPECT_NE(served.find("QuorvelAI-1.1.0-win-x64.tar.xz HTTP/1.1\" 206 "), std::string::npos) << served;
}

}  // namespace
}  // namespace qv::test
