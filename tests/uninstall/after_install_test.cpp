// End to end: a real silent install from the local release server, then the
// installed Uninstall.exe removing it.
#include "tests/install_run/install_run_support.h"

#include "foundation/files.h"
#include "foundation/paths.h"

#include <shlobj.h>

#include <algorithm>

namespace qv::test {
namespace {

using AfterInstall = InstallRunTest;

// Catches a piece of a real install left behind (a file, a shortcut, the
// entry, the stamp, the temporary copy) or a user's entry removed with it.
TEST_F(AfterInstall, UninstallExeRemovesWhatTheInstallMade) {
    std::wstring setup = temp / L"QuorvelAI-Setup at_ABCDEFGHIJKLMNOP.exe";
    ASSERT_TRUE(CopyFileW(setupProgram().c_str(), setup.c_str(), FALSE));
    std::wstring root = temp / L"Quorvel AI";
    for (const char* version : {"1.0.0", "1.1.0"}) {
        SetupRun install = runSetup(temp.path(), silentArguments("good", version, root), setup);
        ASSERT_EQ(install.result.exitCode, 0u) << install.log;
    }
    std::wstring stamp = knownFolder(FOLDERID_RoamingAppData, L"APPDATA") +
                         L"\\quorvelai\\attribution.json";
    ASSERT_TRUE(isFile(stamp));
    writeFile(root + L"\\notes.txt", "mine");
    writeFile(root + L"\\app-1.2.3", "a file, not a version");
    makeFolders(root + L"\\Projects");

    std::wstring own = temp / L"uninstall-temp";
    makeFolders(own);
    SetupRun first = runSetup(own, L"--silent --remove-data", root + L"\\Uninstall.exe");
    EXPECT_EQ(first.result.exitCode, 0u) << first.log;
    std::wstring logPath = own + L"\\QuorvelAI-Setup.log";
    ULONGLONG end = GetTickCount64() + 30000;
    while (readFile(logPath).find("Uninstall finished") == std::string::npos &&
           GetTickCount64() < end)
        Sleep(100);

    std::vector<std::wstring> left = listFolderNames(root);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::wstring>{L"Projects", L"app-1.2.3", L"notes.txt"}));
    EXPECT_EQ(entryText(L"InstallLocation"), L"");
    for (REFKNOWNFOLDERID id : {FOLDERID_Programs, FOLDERID_Desktop})
        EXPECT_FALSE(isFile(knownFolder(id, nullptr) + L"\\QuorvelAI.lnk"));
    EXPECT_FALSE(isFile(stamp));
    // The temporary copy deletes itself a few seconds after it ended.
    const std::vector<std::wstring> onlyTheLog = {L"QuorvelAI-Setup.log"};
    for (end = GetTickCount64() + 15000;
         listFolderNames(own) != onlyTheLog && GetTickCount64() < end;)
        Sleep(100);
    EXPECT_EQ(listFolderNames(own), onlyTheLog);
}

}  // namespace
}  // namespace qv::test
