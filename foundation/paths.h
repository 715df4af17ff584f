// Path text rules and the places the programs need. Paths are UTF-16 with
// backslashes; a separator is a backslash or a slash.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

namespace qv {

// The "\\?\" form that bypasses the 260-character limit: UNC paths become
// "\\?\UNC\server\share...", drive paths get "\\?\" in front, anything else
// (already prefixed, relative, drive-relative) comes back unchanged.
std::wstring longPath(const std::wstring& path);
// Absolute, with backslashes, without trailing backslashes except a drive
// root's. Keeps the slash-converted text when Windows cannot resolve it.
std::wstring fullPath(const std::wstring& path);
// folder + name with exactly one separator when the folder has none at its end.
std::wstring joinPath(const std::wstring& folder, const std::wstring& name);
// Everything before the last separator; a drive root keeps its backslash.
std::wstring parentFolder(const std::wstring& path);
// Everything after the last separator (the whole text when there is none).
std::wstring fileNamePart(const std::wstring& path);
// True when path is the folder itself or lies below it, ignoring case.
bool isUnderFolder(const std::wstring& path, const std::wstring& folder);
// Ordinal comparison ignoring case.
bool equalsIgnoreCase(const std::wstring& a, const std::wstring& b);

// Full path of the running program file; empty when Windows does not say.
std::wstring modulePath();
// The user's temporary folder, long form, without a trailing backslash.
std::wstring tempFolder();
// A shell known folder; when the shell gives nothing, the named environment
// variable (pass nullptr for none). The folder need not exist. Part of
// qv_foundation only, not of qv_foundation_base (it loads the shell).
std::wstring knownFolder(REFKNOWNFOLDERID id, const wchar_t* variable);
// The variable's value, empty when it is not set.
std::wstring environmentVariable(const wchar_t* name);

}  // namespace qv
