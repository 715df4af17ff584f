// Owners for WinHTTP and CNG handles, in the same shape as handles.h.
#pragma once

#include "handles.h"

#include <bcrypt.h>
#include <winhttp.h>

namespace qv {

struct WinHttpHandleTraits {
    using Value = HINTERNET;
    static Value invalid() noexcept { return nullptr; }
    static void close(Value value) noexcept { WinHttpCloseHandle(value); }
};

struct BcryptAlgorithmTraits {
    using Value = BCRYPT_ALG_HANDLE;
    static Value invalid() noexcept { return nullptr; }
    static void close(Value value) noexcept { BCryptCloseAlgorithmProvider(value, 0); }
};

struct BcryptHashTraits {
    using Value = BCRYPT_HASH_HANDLE;
    static Value invalid() noexcept { return nullptr; }
    static void close(Value value) noexcept { BCryptDestroyHash(value); }
};

using WinHttpHandle = UniqueHandle<WinHttpHandleTraits>;
using BcryptAlgorithm = UniqueHandle<BcryptAlgorithmTraits>;
using BcryptHash = UniqueHandle<BcryptHashTraits>;

}  // namespace qv
