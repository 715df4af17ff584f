// Owners for WinHTTP, CNG and certificate (crypt32) handles, in the same
// shape as handles.h.
#pragma once

#include "handles.h"

#include <bcrypt.h>
#include <wincrypt.h>
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

struct CertContextTraits {
    using Value = PCCERT_CONTEXT;
    static Value invalid() noexcept { return nullptr; }
    static void close(Value value) noexcept { CertFreeCertificateContext(value); }
};

struct CertChainTraits {
    using Value = PCCERT_CHAIN_CONTEXT;
    static Value invalid() noexcept { return nullptr; }
    static void close(Value value) noexcept { CertFreeCertificateChain(value); }
};

struct CertStoreTraits {
    using Value = HCERTSTORE;
    static Value invalid() noexcept { return nullptr; }
    static void close(Value value) noexcept { CertCloseStore(value, 0); }
};

struct CryptMessageTraits {
    using Value = HCRYPTMSG;
    static Value invalid() noexcept { return nullptr; }
    static void close(Value value) noexcept { CryptMsgClose(value); }
};

using WinHttpHandle = UniqueHandle<WinHttpHandleTraits>;
using BcryptAlgorithm = UniqueHandle<BcryptAlgorithmTraits>;
using BcryptHash = UniqueHandle<BcryptHashTraits>;
using CertContext = UniqueHandle<CertContextTraits>;
using CertChain = UniqueHandle<CertChainTraits>;
using CertStore = UniqueHandle<CertStoreTraits>;
using CryptMessage = UniqueHandle<CryptMessageTraits>;

}  // namespace qv
