// qv-trust-cert: a test-only console program that makes Windows (the Wine
// prefix of the tests) trust a certificate authority.
//
//   qv-trust-cert.exe add <certificate.pem | certificate.der>
//
// Adds the certificate to the machine's "Root" store, replacing an earlier
// copy. Exit code 0 on success, 1 on any failure (with the reason printed),
// 2 for a wrong command line.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>

#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"
#include "foundation/text.h"

namespace {

struct CertStoreTraits {
    using Value = HCERTSTORE;
    static Value invalid() noexcept { return nullptr; }
    static void close(Value value) noexcept { CertCloseStore(value, 0); }
};
using CertStore = qv::UniqueHandle<CertStoreTraits>;

// Certificates are a few kilobytes; anything far larger is not one.
constexpr DWORD kMaxCertificateFile = 1 << 20;

int fail(const std::wstring& what, DWORD error) {
    std::wstring text = qv::formatText(L"qv-trust-cert: %ls: %ls (error %lu)", what.c_str(),
                                       qv::windowsErrorText(error).c_str(), error);
    std::fprintf(stderr, "%s\n", qv::toUtf8(text).c_str());
    return 1;
}

// Reads the whole file; false with the Windows error code on failure.
bool readWholeFile(const std::wstring& path, std::string& bytes, DWORD& error) {
    qv::FileHandle file(CreateFileW(qv::longPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size)) {
        error = GetLastError();
        return false;
    }
    if (size.QuadPart > kMaxCertificateFile) {
        error = ERROR_FILE_TOO_LARGE;
        return false;
    }
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        if (!ReadFile(file.get(), &bytes[done], static_cast<DWORD>(bytes.size() - done), &got,
                      nullptr)) {
            error = GetLastError();
            return false;
        }
        if (got == 0) break;
        done += got;
    }
    bytes.resize(done);
    return true;
}

// PEM text ("-----BEGIN CERTIFICATE-----") becomes DER; DER stays as it is.
bool toDer(const std::string& file, std::string& der, DWORD& error) {
    if (file.find("-----BEGIN") == std::string::npos) {
        der = file;
        return true;
    }
    DWORD size = 0;
    if (!CryptStringToBinaryA(file.data(), static_cast<DWORD>(file.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
        error = GetLastError();
        return false;
    }
    der.resize(size);
    if (!CryptStringToBinaryA(file.data(), static_cast<DWORD>(file.size()),
                              CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(&der[0]), &size,
                              nullptr, nullptr)) {
        error = GetLastError();
        return false;
    }
    der.resize(size);
    return true;
}

int addToRootStore(const std::wstring& argument) {
    std::wstring path = qv::fullPath(argument);
    std::string file;
    std::string der;
    DWORD error = 0;
    if (!readWholeFile(path, file, error)) return fail(L"cannot read " + path, error);
    if (!toDer(file, der, error)) return fail(path + L" is not a PEM certificate", error);

    CertStore store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                  CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
    if (!store) return fail(L"cannot open the machine's Root store", GetLastError());
    if (!CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                          reinterpret_cast<const BYTE*>(der.data()),
                                          static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
        return fail(L"cannot add " + path + L" to the Root store", GetLastError());
    }
    std::printf("qv-trust-cert: %s is trusted\n", qv::toUtf8(path).c_str());
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 || std::wstring(argv[1]) != L"add") {
        std::fprintf(stderr, "usage: qv-trust-cert.exe add <certificate.pem|certificate.der>\n");
        return 2;
    }
    return addToRootStore(argv[2]);
}
