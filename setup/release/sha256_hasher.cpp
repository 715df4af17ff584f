#include "sha256_hasher.h"

#include "foundation/text.h"

namespace qv {

Sha256Hasher::Sha256Hasher() {
    NTSTATUS status = BCryptOpenAlgorithmProvider(algorithm_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (BCRYPT_SUCCESS(status))
        status = BCryptCreateHash(algorithm_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0);
    failed_ = !BCRYPT_SUCCESS(status);
}

bool Sha256Hasher::add(const uint8_t* bytes, uint64_t length) {
    constexpr uint64_t maxPiece = 1u << 30;
    while (!failed_ && length > 0) {
        ULONG piece = static_cast<ULONG>(length < maxPiece ? length : maxPiece);
        failed_ = !BCRYPT_SUCCESS(BCryptHashData(hash_.get(), const_cast<PUCHAR>(bytes), piece, 0));
        bytes += piece;
        length -= piece;
    }
    return !failed_;
}

std::string Sha256Hasher::finish() {
    unsigned char digest[32];
    if (failed_ || !BCRYPT_SUCCESS(BCryptFinishHash(hash_.get(), digest, sizeof(digest), 0))) {
        failed_ = true;
        return {};
    }
    return toHex(digest, sizeof(digest));
}

}  // namespace qv
