#include "document_signature.h"

#include "sha256_hasher.h"

#include "foundation/crypto_handles.h"
#include "foundation/text.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <vector>

namespace qv {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr DWORD kSignerNameChars = 512;

DocumentSignature fault(DocumentSignatureFault kind, std::wstring reason,
                        std::wstring signer = {}) {
    DocumentSignature result;
    result.fault = kind;
    result.reason = std::move(reason);
    result.signer = std::move(signer);
    return result;
}

const BYTE* bytesOf(const std::string& text) {
    return reinterpret_cast<const BYTE*>(text.data());
}

std::wstring displayName(PCCERT_CONTEXT certificate) {
    wchar_t name[kSignerNameChars] = {};
    DWORD count = CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name,
                                     kSignerNameChars);
    // The count includes the terminating NUL; 1 means an empty name.
    return count <= 1 ? std::wstring() : std::wstring(name, count - 1);
}

// The document's SHA-256 in lower-case hex, or empty when CNG fails.
std::string sha256Of(const std::string& document) {
    Sha256Hasher hasher;
    hasher.add(reinterpret_cast<const uint8_t*>(document.data()), document.size());
    return hasher.finish();
}

// A parameter of the decoded message (signer 0) as bytes; empty on failure.
std::vector<BYTE> messageParam(HCRYPTMSG message, DWORD type) {
    DWORD size = 0;
    if (!CryptMsgGetParam(message, type, 0, nullptr, &size) || size == 0) return {};
    std::vector<BYTE> buffer(size);
    if (!CryptMsgGetParam(message, type, 0, buffer.data(), &size)) return {};
    return buffer;
}

// Wine checks a signature with signed attributes only over those
// attributes, not against the content, so the message digest among them is
// compared with the document's own hash here rather than trusted to the
// platform. Empty text when the digest is SHA-256 and, where given, matches.
std::wstring digestProblem(HCRYPTMSG message, const std::string& document) {
    std::vector<BYTE> buffer = messageParam(message, CMSG_SIGNER_INFO_PARAM);
    if (buffer.empty()) return L"its signer information cannot be read";
    auto* info = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
    if (!info->HashAlgorithm.pszObjId || strcmp(info->HashAlgorithm.pszObjId, szOID_NIST_sha256) != 0)
        return L"its digest is not SHA-256";
    if (info->AuthAttrs.cAttr == 0) return {};
    for (DWORD i = 0; i < info->AuthAttrs.cAttr; ++i) {
        const CRYPT_ATTRIBUTE& attribute = info->AuthAttrs.rgAttr[i];
        if (strcmp(attribute.pszObjId, szOID_PKCS_9_MESSAGE_DIGEST) != 0) continue;
        if (attribute.cValue != 1) return L"its message digest attribute is malformed";
        alignas(CRYPT_DATA_BLOB) BYTE decoded[64] = {};
        DWORD size = sizeof(decoded);
        if (!CryptDecodeObject(kEncoding, X509_OCTET_STRING, attribute.rgValue[0].pbData,
                               attribute.rgValue[0].cbData, 0, decoded, &size))
            return L"its message digest attribute is malformed";
        auto* digest = reinterpret_cast<const CRYPT_DATA_BLOB*>(decoded);
        std::string own = sha256Of(document);
        if (own.empty()) return L"the document's SHA-256 cannot be computed";
        if (toHex(digest->pbData, digest->cbData) != own)
            return L"the signed message digest differs from the document's SHA-256";
        return {};
    }
    return L"its signed attributes hold no message digest";
}

// Why the signer's chain is not trusted at the present time, or empty text.
// The chain's own error status is read: a base policy check alone passes
// chains whose root is not trusted on some systems.
std::wstring chainProblem(PCCERT_CONTEXT signer, HCERTSTORE messageCertificates) {
    CERT_CHAIN_PARA parameters = {};
    parameters.cbSize = sizeof(parameters);
    CertChain chain;
    // No revocation check, and only what is cached: no network wait.
    if (!CertGetCertificateChain(nullptr, signer, nullptr, messageCertificates, &parameters,
                                 CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr, chain.put()))
        return formatText(L"its certificate chain cannot be built (0x%08lx)", GetLastError());
    DWORD status = chain.get()->TrustStatus.dwErrorStatus &
                   ~(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
    if (status == CERT_TRUST_NO_ERROR) return {};
    if (status & CERT_TRUST_IS_NOT_TIME_VALID)
        return formatText(L"its certificate has expired or is not yet valid (chain status 0x%08lx)",
                          status);
    if (status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN))
        return formatText(L"its certificate does not chain to a trusted root (chain status 0x%08lx)",
                          status);
    return formatText(L"its certificate chain is not valid (chain status 0x%08lx)", status);
}

// Only a certificate that names code signing among its uses is accepted;
// one without any usage list is not taken as allowing everything.
bool allowsCodeSigning(PCCERT_CONTEXT certificate) {
    DWORD size = 0;
    if (!CertGetEnhancedKeyUsage(certificate, 0, nullptr, &size) || size == 0) return false;
    std::vector<BYTE> buffer(size);
    auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
    if (!CertGetEnhancedKeyUsage(certificate, 0, usage, &size)) return false;
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i)
        if (strcmp(usage->rgpszUsageIdentifier[i], szOID_PKIX_KP_CODE_SIGNING) == 0) return true;
    return false;
}

}  // namespace

DocumentSignature verifyDocumentSignature(const std::string& document,
                                          const std::string& signature) {
    if (signature.empty()) return fault(DocumentSignatureFault::Missing, L"the signature is empty");

    CRYPT_VERIFY_MESSAGE_PARA verify = {};
    verify.cbSize = sizeof(verify);
    verify.dwMsgAndCertEncodingType = kEncoding;
    const BYTE* parts[] = {bytesOf(document)};
    DWORD partSizes[] = {static_cast<DWORD>(document.size())};
    CertContext signer;
    if (!CryptVerifyDetachedMessageSignature(&verify, 0, bytesOf(signature),
                                             static_cast<DWORD>(signature.size()), 1, parts,
                                             partSizes, signer.put()))
        return fault(DocumentSignatureFault::NotVerified,
                     formatText(L"the signature does not verify (0x%08lx)", GetLastError()));
    std::wstring name = signer ? displayName(signer.get()) : std::wstring();

    CryptMessage message(CryptMsgOpenToDecode(kEncoding, CMSG_DETACHED_FLAG, 0, 0, nullptr, nullptr));
    if (!message || !CryptMsgUpdate(message.get(), bytesOf(signature),
                                    static_cast<DWORD>(signature.size()), TRUE))
        return fault(DocumentSignatureFault::NotVerified, L"the signature cannot be decoded", name);
    std::wstring problem = digestProblem(message.get(), document);
    if (!problem.empty()) return fault(DocumentSignatureFault::DigestDiffers, problem, name);
    if (!signer)
        return fault(DocumentSignatureFault::Untrusted, L"the signature names no certificate");

    CertStore certificates(CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message.get()));
    problem = chainProblem(signer.get(), certificates.get());
    if (!problem.empty()) return fault(DocumentSignatureFault::Untrusted, problem, name);
    if (!allowsCodeSigning(signer.get()))
        return fault(DocumentSignatureFault::NoCodeSigning,
                     L"its certificate is not meant for code signing", name);
    if (name != expectedSigner)
        return fault(DocumentSignatureFault::OtherSigner,
                     L"it is signed by \"" + name + L"\", not by " + expectedSigner, name);
    DocumentSignature result;
    result.fault = DocumentSignatureFault::None;
    result.signer = name;
    return result;
}

}  // namespace qv
