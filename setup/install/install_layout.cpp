#include "install_layout.h"

#include "setup/core/timings.h"

#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/versions.h"

namespace qv {
namespace {

bool startsWithIgnoreCase(const std::wstring& text, const std::wstring& start) {
    return text.size() >= start.size() && equalsIgnoreCase(text.substr(0, start.size()), start);
}

bool endsWithIgnoreCase(const std::wstring& text, const std::wstring& end) {
    return text.size() >= end.size() &&
           equalsIgnoreCase(text.substr(text.size() - end.size()), end);
}

const wchar_t* const installFileNames[] = {
    L"QuorvelAI.exe", L"QuorvelAI.exe.new", L"Uninstall.exe", L"Uninstall.exe.new",
    L"Update.exe",    L"SquirrelSetup.log", L".dead",         L"app.ico",
};

bool isInstallFileName(const std::wstring& name) {
    for (const wchar_t* known : installFileNames)
        if (equalsIgnoreCase(name, known)) return true;
    // Logs of the earlier installer: "Squirrel-" + at least one character + ".log".
    if (name.size() >= 14 && startsWithIgnoreCase(name, L"Squirrel-") &&
        endsWithIgnoreCase(name, L".log"))
        return true;
    // A launcher set aside while it was running.
    const std::wstring aside = L"QuorvelAI.exe.old-";
    return name.size() > aside.size() && startsWithIgnoreCase(name, aside);
}

}  // namespace

bool isVersionFolderName(const std::wstring& name) {
    if (name.size() < 5 || !startsWithIgnoreCase(name, L"app-")) return false;
    std::wstring version = name.substr(4);
    if (version.size() > 4 &&
        (endsWithIgnoreCase(version, L".tmp") || endsWithIgnoreCase(version, L".old")))
        version.resize(version.size() - 4);
    std::vector<uint32_t> parts;
    return parseVersion(version, &parts) && parts.size() >= 3;
}

bool belongsToInstall(const std::wstring& name, bool isFolder) {
    if (isFolder) return isVersionFolderName(name) || equalsIgnoreCase(name, L"packages");
    return isInstallFileName(name);
}

std::vector<FolderEntry> listFolder(const std::wstring& path) {
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileExW(longPath(joinPath(path, L"*")).c_str(), FindExInfoBasic, &data,
                                     FindExSearchNameMatch, nullptr, 0));
    if (!find) return entries;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        entries.push_back({name, data.dwFileAttributes});
    } while (FindNextFileW(find.get(), &data));
    return entries;
}

std::vector<std::wstring> listForeignEntries(const std::wstring& path) {
    std::vector<std::wstring> names;
    for (const FolderEntry& entry : listFolder(path))
        if (!belongsToInstall(entry.name, entry.isFolder())) names.push_back(entry.name);
    return names;
}

bool moveWithRetry(const std::wstring& from, const std::wstring& to, DWORD* error) {
    const Timings& wait = timings();
    for (uint32_t attempt = 0; attempt < wait.moveAttempts; ++attempt) {
        if (MoveFileExW(longPath(from).c_str(), longPath(to).c_str(), 0)) return true;
        if (error) *error = GetLastError();
        // A scanner or indexer often holds a fresh file for a moment.
        Sleep(wait.movePauseMs);
    }
    return false;
}

}  // namespace qv
