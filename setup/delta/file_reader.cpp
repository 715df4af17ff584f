#include "file_reader.h"

#include "foundation/paths.h"

#include <algorithm>

namespace qv {
namespace {

// The largest piece one ReadFile takes (its length is 32-bit).
constexpr size_t maxReadPiece = 1073741824;

bool failWith(DWORD* error, DWORD code) {
    *error = code;
    return false;
}

}  // namespace

bool FileReader::open(const std::wstring& path, DWORD* error) {
    file_.reset(CreateFileW(longPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file_) return failWith(error, GetLastError());
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file_.get(), &size)) return failWith(error, GetLastError());
    size_ = static_cast<uint64_t>(size.QuadPart);
    return true;
}

bool FileReader::readAt(uint64_t offset, uint8_t* bytes, size_t length, DWORD* error) const {
    while (length > 0) {
        // The offset goes with each read, so no call depends on the
        // position an earlier one left.
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD read = 0;
        DWORD piece = static_cast<DWORD>(std::min(length, maxReadPiece));
        if (!readFile_(file_.get(), bytes, piece, &read, &at)) {
            DWORD code = GetLastError();
            return failWith(error, code ? code : ERROR_READ_FAULT);
        }
        if (read == 0) return failWith(error, ERROR_HANDLE_EOF);
        offset += read;
        bytes += read;
        length -= read;
    }
    return true;
}

}  // namespace qv
