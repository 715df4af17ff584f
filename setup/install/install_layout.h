// The install root's layout: which entries belong to an install (the name
// rule), and the file operations the install engine builds on.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace qv {

inline constexpr const wchar_t* launcherFileName = L"QuorvelAI.exe";
inline constexpr const wchar_t* uninstallerFileName = L"Uninstall.exe";

struct FolderEntry {
    std::wstring name;
    DWORD attributes = 0;
    bool isFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    bool isLink() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
};

// "app-" + a version of 3 or 4 parts, optionally followed by ".tmp" or
// ".old"; ignoring case.
bool isVersionFolderName(const std::wstring& name);
// The install-root name rule: true when an entry of this name and kind is
// one the setup puts into (or leaves in) an install root.
bool belongsToInstall(const std::wstring& name, bool isFolder);

// The entries of path without "." and "..", in listing order; empty when the
// folder cannot be listed. The second form tells a folder that is missing
// or empty (*error 0) from one that is there but cannot be listed (*error
// the Windows error: access denied, a broken link).
std::vector<FolderEntry> listFolder(const std::wstring& path);
std::vector<FolderEntry> listFolder(const std::wstring& path, DWORD* error);

// Test seam: when set, listFolder asks it first and fails with the error it
// answers when that is not 0, as a refused FindFirstFileExW would. The
// program itself never sets it.
using FolderListGate = DWORD (*)(const std::wstring& path);
FolderListGate& folderListGate();
// The names of path's entries that do not belong to an install.
std::vector<std::wstring> listForeignEntries(const std::wstring& path);

// MoveFileExW without flags, tried timings().moveAttempts times with
// timings().movePauseMs after each failure (the last included). On failure
// stores the last error in *error when given.
bool moveWithRetry(const std::wstring& from, const std::wstring& to, DWORD* error = nullptr);

}  // namespace qv
