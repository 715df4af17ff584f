#include "files.h"

#include "paths.h"

namespace qv {

bool isFile(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(longPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isFolder(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(longPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

uint64_t fileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(longPath(path).c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool moveReplacing(const std::wstring& from, const std::wstring& to, DWORD* errorCode) {
    if (MoveFileExW(longPath(from).c_str(), longPath(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    if (errorCode) *errorCode = GetLastError();
    return false;
}

void removeZoneIdentifier(const std::wstring& path) {
    DeleteFileW(longPath(path + L":Zone.Identifier").c_str());
}

}  // namespace qv
