// The publisher's detached signature of a release document (the version
// index, a manifest): a CMS SignedData over the document's exact bytes, made
// with the publisher's code-signing certificate.
#pragma once

#include <string>

namespace qv {

// The publisher whose signatures the setup accepts, compared whole and
// case-sensitively with the signing certificate's display name.
inline constexpr const wchar_t* expectedSigner = L"Quorvel, LLC";

enum class DocumentSignatureFault {
    None,
    Missing,        // no signature bytes
    NotVerified,    // the signature is not one over these bytes
    DigestDiffers,  // the signed message digest is not the document's SHA-256
    Untrusted,      // the chain does not reach a trusted root now, or has errors
    NoCodeSigning,  // the certificate is not meant for code signing
    OtherSigner,    // someone other than the publisher signed
};

struct DocumentSignature {
    DocumentSignatureFault fault = DocumentSignatureFault::Missing;
    std::wstring signer;  // the signing certificate's display name, or empty
    std::wstring reason;  // what failed, in words; empty when trusted
    bool trusted() const { return fault == DocumentSignatureFault::None; }
};

// Checks that signature (DER) is the publisher's over document. Revocation
// is not checked and nothing is fetched from the network. Never throws.
DocumentSignature verifyDocumentSignature(const std::string& document,
                                          const std::string& signature);

}  // namespace qv
