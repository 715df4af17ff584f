#include "install_layout.h"

#include "setup/core/timings.h"

#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/versions.h"


namespace qv {
namespace {

bool startsWithIgnoreCase(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

bool endsWithIgnoreCase(const std::wstring& text, const std::wstring& suffix) {
    return text.size() >= suffix.size() &&
           equalsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

const wchar_t* const ownedFileNames[] = {
    L"QuorvelAI.exe", L"QuorvelAI.exe.new", L"Uninstall.exe", L"Uninstall.exe.new",
    L"Update.exe",    L"SquirrelSetup.log", L".dead",         L"app.ico",
};

bool isOwnedFileName(const std::wstring& name) {
    for (const wchar_t* owned : ownedFileNames)
        if (equalsIgnoreCase(name, owned)) return true;
    if (name.size() >= 14 && startsWithIgnoreCase(name, L"Squirrel-") &&
        endsWithIgnoreCase(name, L".log"))
        return true;
    const std::wstring aside = L"QuorvelAI.exe.old-";
    return name.size() > aside.size() && startsWithIgnoreCase(name, aside);
}

}  // namespace

bool isVersionFolderName(const std::wstring& name) {
    if (name.size() < 5 || !startsWithIgnoreCase(name, L"app-")) return false;
    std::wstring version = name.substr(4);
    if (version.size() > 4 && (endsWithIgnoreCase(version, L".tmp") || endsWithIgnoreCase(version, L".old")))
        version.resize(version.size() - 4);
    std::vector<uint32_t> parts;
    return parseVersion(version, &parts) && parts.size() >= 3;
}

bool belongsToInstall(const std::wstring& name, bool isFolder) {
    if (isFolder) return isVersionFolderName(name) || equalsIgnoreCase(name, L"packages");
    return isOwnedFileName(name);
}

FolderListGate& folderListGate() {
    static FolderListGate gate = nullptr;
    return gate;
}

std::vector<FolderEntry> listFolder(const std::wstring& path) {
    DWORD ignored = 0;
    return listFolder(path, &ignored);
}

std::vector<FolderEntry> listFolder(const std::wstring& path, DWORD* error) {
    std::vector<FolderEntry> entries;
    *error = folderListGate() ? folderListGate()(path) : 0;
    if (*error != 0) return entries;
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileExW(longPath(joinPath(path, L"*")).c_str(), FindExInfoBasic, &data,
                                     FindExSearchNameMatch, nullptr, 0));
    if (!find) {
        DWORD findError = GetLastError();
        DWORD attributes = GetFileAttributesW(longPath(path).c_str());
        bool present = attributes != INVALID_FILE_ATTRIBUTES;
        DWORD presentError = present ? 0 : GetLastError();
        // Not there at all, not a folder, or a drive root without entries:
        // nothing to list. A link is listed through, so a broken one fails.
        if (presentError == ERROR_FILE_NOT_FOUND || presentError == ERROR_PATH_NOT_FOUND) return entries;
        if (present && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return entries;
        if (present && findError == ERROR_FILE_NOT_FOUND) return entries;
        *error = present ? findError : presentError;
        return entries;
    }
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        entries.push_back({name, data.dwFileAttributes});
    } while (FindNextFileW(find.get(), &data));
    DWORD endError = GetLastError();
    if (endError != ERROR_NO_MORE_FILES) *error = endError;
    return entries;
}

std::vector<std::wstring> listForeignEntries(const std::wstring& path) {
    std::vector<std::wstring> names;
    for (const FolderEntry& entry : listFolder(path))
        if (!belongsToInstall(entry.name, entry.isFolder())) names.push_back(entry.name);
    return names;
}

bool moveWithRetry(const std::wstring& from, const std::wstring& to, DWORD* error) {
    const Timings& t = timings();
    std::wstring source = longPath(from);
    std::wstring target = longPath(to);
    DWORD lastError = ERROR_GEN_FAILURE;
    for (uint32_t attempt = 0; attempt < t.moveAttempts; ++attempt) {
        if (MoveFileExW(source.c_str(), target.c_str(), 0)) return true;
        lastError = GetLastError();
        // A scanner or indexer often holds a fresh file for a moment.
        Sleep(t.movePauseMs);
    }
    if (error) *error = lastError;
    return false;
}

}  // namespace qv
