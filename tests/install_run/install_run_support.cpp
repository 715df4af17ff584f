#include "install_run_support.h"

#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"

#include <shlobj.h>

namespace qv::test {

std::wstring knownFolderPath(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) result = path;
    CoTaskMemFree(path);
    return result;
}

std::wstring releaseUrl(const std::string& variant) {
    return releaseServer().httpUrl + L"/" + fromUtf8(variant);
}

std::wstring publishedVersionFolder(const std::string& variant, const std::string& version) {
    return releaseServer().root + L"\\" + fromUtf8(variant) + L"\\Installs\\" + fromUtf8(version) +
           L"\\win-x64";
}

uint64_t manifestNumber(const std::string& variant, const std::string& version, const std::string& name) {
    std::string text = readFile(publishedVersionFolder(variant, version) + L"\\manifest.json");
    size_t at = text.find("\"" + name + "\"");
    if (at == std::string::npos) return 0;
    at = text.find(':', at);
    return std::stoull(text.substr(at + 1));
}

std::string manifestText(const std::string& variant, const std::string& version, const std::string& name) {
    std::string text = readFile(publishedVersionFolder(variant, version) + L"\\manifest.json");
    size_t at = text.find("\"" + name + "\"");
    if (at == std::string::npos) return {};
    at = text.find('"', text.find(':', at));
    size_t end = text.find('"', at + 1);
    return at == std::string::npos || end == std::string::npos ? std::string() : text.substr(at + 1, end - at - 1);
}

std::string payloadPath(const std::string& variant, const std::string& version) {
    return "/" + variant + "/Installs/" + version + "/win-x64/QuorvelAI-" + version + "-win-x64.tar.xz";
}

std::string deltaPath(const std::string& variant, const std::string& version) {
    return "/" + variant + "/Installs/" + version + "/win-x64/QuorvelAI-" + version + "-from-1.0.0-win-x64.delta";
}

std::vector<std::wstring> listFolderNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW(longPath(folder + L"\\*").c_str(), &data));
    if (!find) return names;
    do {
        std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find.get(), &data));
    return names;
}

std::wstring setupProgram() { return binFolder() + L"\\QuorvelAI-Setup.exe"; }
std::wstring fastSetupProgram() { return binFolder() + L"\\QuorvelAI-Setup-fast.exe"; }

SetupRun runSetup(const std::wstring& temp, const std::wstring& arguments, const std::wstring& program,
                  DWORD timeoutMs) {
    SetupRun run;
    std::wstring logPath = joinPath(temp, L"QuorvelAI-Setup.log");
    // The log is shared by every run in temp: keep only this run's lines.
    size_t before = readFile(logPath).size();
    std::wstring line = L"\"" + program + L"\" " + arguments;
    run.result = runChild(program, line, withTempFolder(temp, timeoutMs));
    std::string log = readFile(logPath);
    run.log = log.size() >= before ? log.substr(before) : log;
    return run;
}

std::wstring silentArguments(const std::string& variant, const std::string& version,
                             const std::wstring& root) {
    return L"--silent --base-url " + releaseUrl(variant) + L" --version " + fromUtf8(version) +
           L" --dir \"" + root + L"\"";
}

std::wstring entryText(const wchar_t* name) {
    wchar_t buffer[2048];
    DWORD size = sizeof(buffer);
    if (RegGetValueW(HKEY_CURRENT_USER, uninstallKey, name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS)
        return L"";
    return buffer;
}

int64_t entryNumber(const wchar_t* name) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, uninstallKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return -1;
    return value;
}

void clearUserState() {
    RegDeleteTreeW(HKEY_CURRENT_USER, uninstallKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, uninstallKey);
    for (REFKNOWNFOLDERID id : {FOLDERID_Programs, FOLDERID_Desktop}) {
        std::wstring folder = knownFolderPath(id);
        if (!folder.empty()) DeleteFileW((folder + L"\\QuorvelAI.lnk").c_str());
    }
    std::wstring stamp = knownFolderPath(FOLDERID_RoamingAppData) + L"\\quorvelai\\attribution.json";
    DeleteFileW(stamp.c_str());
}

bool waitForFile(const std::wstring& path, DWORD timeoutMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        DWORD attributes = GetFileAttributesW(longPath(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(50);
    }
}

bool launcherStartsVersion(const std::wstring& root, const std::wstring& version) {
    std::wstring record = root + L"\\app-" + version + L"\\demo-started.txt";
    DeleteFileW(longPath(record).c_str());
    std::wstring launcher = root + L"\\QuorvelAI.exe";
    TempFolder launcherTemp;
    ChildResult result = runChild(launcher, L"\"" + launcher + L"\"", withTempFolder(launcherTemp.path(), 30000));
    bool started = result.started && result.finished && result.exitCode == 0 && waitForFile(record, 5000);
    if (!started)
        ADD_FAILURE() << "the launcher did not start app-" << toUtf8(version) << " (started " << result.started
                      << ", exit " << result.exitCode << ")\n"
                      << readFile(joinPath(launcherTemp.path(), L"QuorvelAI-Launcher.log"));
    return started;
}

void InstallRunTest::SetUp() {
    if (!releaseServer().available()) GTEST_SKIP() << "needs tests/server/with_server.sh";
    clearUserState();
}

void InstallRunTest::TearDown() { clearUserState(); }

}  // namespace qv::test
