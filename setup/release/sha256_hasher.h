// SHA-256 of bytes handed over in pieces, through the platform's CNG
// provider: downloads and the files built from a delta are proved with it.
#pragma once

#include "foundation/crypto_handles.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv {

class Sha256Hasher {
public:
    // Opens the provider; failed() tells whether that worked.
    Sha256Hasher();
    bool failed() const { return failed_; }
    // Adds bytes (any number; pieces above 4 GiB are split). False once
    // anything failed.
    bool add(const uint8_t* bytes, uint64_t length);
    // 64 lower-case hex digits, or empty text when anything failed. Call
    // once, after the last add.
    std::string finish();

private:
    BcryptAlgorithm algorithm_;
    BcryptHash hash_;
    bool failed_ = false;
};

}  // namespace qv
