// File-system primitives; each passes its path through longPath.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace qv {

// The path exists and is not a folder.
bool isFile(const std::wstring& path);
// The path exists and is a folder.
bool isFolder(const std::wstring& path);
// Size in bytes; 0 when the path does not exist or cannot be queried.
uint64_t fileSize(const std::wstring& path);
// Moves or renames a file, replacing an existing target. On failure stores
// the Windows error in *errorCode when the caller passed a place for it.
bool moveReplacing(const std::wstring& from, const std::wstring& to, DWORD* errorCode = nullptr);
// Deletes the Mark of the Web (the path:Zone.Identifier stream) from a file;
// nothing when it has none. CopyFileW carries the stream over, so a copy of
// a downloaded setup would make Windows warn before each start of it.
void removeZoneIdentifier(const std::wstring& path);

}  // namespace qv
