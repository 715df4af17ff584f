// Creating and removing folder trees. Paths go to Windows in their long form.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace qv {

// Creates path and any missing parents. True for an empty path or an
// existing folder; on failure stores the error of the failing
// CreateDirectoryW in *errorCode when given.
bool createFolderTree(const std::wstring& path, DWORD* errorCode = nullptr);

// Removes path with everything in it. Read-only files are made writable
// first; junctions and symbolic links are unlinked, never entered. Goes on
// after a failure and stores the first failing path (long form) in
// *firstFailure when given and still empty. True when nothing failed; a path
// that is not a folder counts as removed.
bool removeTree(const std::wstring& path, std::wstring* firstFailure = nullptr);

// True when folder holds anything besides "." and ".."; false when it is
// empty, missing or cannot be listed.
bool folderHoldsEntries(const std::wstring& folder);

// Bytes available to the current user on the volume of folder (or of its
// nearest existing parent); 0 when it cannot be told.
uint64_t freeDiskSpace(const std::wstring& folder);

}  // namespace qv
