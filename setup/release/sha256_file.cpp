#include "sha256_file.h"

#include "foundation/crypto_handles.h"
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
    BcryptAlgorithm algorithm;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM,
                                                    nullptr, 0)))
        return {};
    BcryptHash hash;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0)))
        return {};

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
        if (!BCRYPT_SUCCESS(BCryptHashData(hash.get(), piece.data(), read, 0))) return {};
        done += read;
        if (progress && !progress(done, total)) return {};
    }
    unsigned char digest[32];
    if (!BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), digest, sizeof(digest), 0))) return {};
    return toHex(digest, sizeof(digest));
}

}  // namespace qv
