#include "sha256_file.h"

#include "sha256_hasher.h"

#include "foundation/files.h"
#include "foundation/paths.h"
#include "foundation/text.h"

#include <vector>

namespace qv {
namespace {

constexpr DWORD hashPiece = 1048576;

void storeError(DWORD* errorCode, DWORD error) {
    if (errorCode) *errorCode = error;
}

}  // namespace

std::string HashFileSha256(const std::wstring& path, const ProgressCallback& progress,
                           DWORD* errorCode) {
    FileHandle file(CreateFileW(longPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        storeError(errorCode, GetLastError());
        return {};
    }
    Sha256Hasher hasher;
    if (hasher.failed()) return {};

    uint64_t total = fileSize(path);
    uint64_t done = 0;
    std::vector<unsigned char> piece(hashPiece);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), piece.data(), hashPiece, &read, nullptr)) {
            storeError(errorCode, GetLastError());
            return {};
        }
        if (read == 0) break;
        if (!hasher.add(piece.data(), read)) return {};
        done += read;
        if (progress && !progress(done, total)) return {};
    }
    return hasher.finish();
}

}  // namespace qv
