#include "folder_tree.h"

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/paths.h"

namespace qv {
namespace {

void noteFailure(std::wstring* firstFailure, const std::wstring& path) {
    if (firstFailure && firstFailure->empty()) *firstFailure = path;
}

// Removes everything inside folder (a long-form path); true when all went.
bool removeContents(const std::wstring& folder, std::wstring* firstFailure) {
    bool ok = true;
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0));
    if (!find) return true;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = folder + L"\\" + name;
        DWORD attributes = entry.dwFileAttributes;
        if (attributes & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
        bool removed;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            removed = DeleteFileW(path.c_str()) != 0;
        } else if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A junction or link: remove the link itself, never its target.
            removed = RemoveDirectoryW(path.c_str()) != 0;
        } else {
            if (!removeContents(path, firstFailure)) ok = false;
            removed = RemoveDirectoryW(path.c_str()) != 0;
        }
        if (!removed) {
            noteFailure(firstFailure, path);
            ok = false;
        }
    } while (FindNextFileW(find.get(), &entry));
    return ok;
}

}  // namespace

bool createFolderTree(const std::wstring& path, DWORD* errorCode) {
    if (path.empty() || isFolder(path)) return true;
    std::wstring parent = parentFolder(path);
    if (!parent.empty() && parent != path && !isFolder(parent)) {
        if (!createFolderTree(parent, errorCode)) return false;
    }
    if (CreateDirectoryW(longPath(path).c_str(), nullptr)) return true;
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS && isFolder(path)) return true;
    if (errorCode) *errorCode = error;
    return false;
}

bool removeTree(const std::wstring& path, std::wstring* firstFailure) {
    if (!isFolder(path)) return true;
    std::wstring root = longPath(fullPath(path));
    // A junction or link given as the tree itself is unlinked, never entered:
    // emptying it would delete files of the folder it points to.
    DWORD attributes = GetFileAttributesW(root.c_str());
    bool isLink = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    bool ok = isLink || removeContents(root, firstFailure);
    if (!RemoveDirectoryW(root.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        noteFailure(firstFailure, root);
        ok = false;
    }
    return ok;
}

uint64_t freeDiskSpace(const std::wstring& folder) {
    std::wstring path = fullPath(folder);
    while (!path.empty() && !isFolder(path)) {
        std::wstring parent = parentFolder(path);
        if (parent == path) break;
        path = parent;
    }
    if (path.empty()) return 0;
    if (path.back() != L'\\') path += L'\\';
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(longPath(path).c_str(), &available, nullptr, nullptr)) return 0;
    return available.QuadPart;
}

bool folderHoldsEntries(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    FindHandle find(FindFirstFileExW(longPath(joinPath(folder, L"*")).c_str(), FindExInfoBasic, &entry,
                                     FindExSearchNameMatch, nullptr, 0));
    if (!find) return false;
    do {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") return true;
    } while (FindNextFileW(find.get(), &entry));
    return false;
}

}  // namespace qv
