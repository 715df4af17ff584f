#include "signed_document.h"

#include "document_signature.h"
#include "http_client.h"

#include "foundation/log.h"
#include "setup/core/setup_error.h"

namespace qv {
namespace {

const wchar_t* const kMissingMessage =
    L"The download server sent the install information without the publisher's signature, "
    L"so the setup did not use it. Try again later or on another network.";
const wchar_t* const kMismatchMessage =
    L"The install information from the download server does not match its signature, so the "
    L"setup did not use it. Try again later or on another network.";
const wchar_t* const kSignerMessage =
    L"The install information from the download server is not signed by Quorvel, LLC, so "
    L"the setup did not use it. Try again later or on another network.";

struct Refusal {
    const wchar_t* code;
    const wchar_t* message;
};

Refusal refusalFor(DocumentSignatureFault fault) {
    switch (fault) {
    case DocumentSignatureFault::Missing: return {L"QV-SIG-2", kMissingMessage};
    case DocumentSignatureFault::NotVerified:
    case DocumentSignatureFault::DigestDiffers: return {L"QV-SIG-3", kMismatchMessage};
    default: return {L"QV-SIG-4", kSignerMessage};
    }
}

// Another network or a later try may bring the genuine files: retryable.
[[noreturn]] void refuse(DocumentSignatureFault fault, const std::wstring& url,
                         const std::wstring& reason) {
    Refusal refusal = refusalFor(fault);
    throw SetupError(refusal.code, refusal.message, url + L"\nThe signature check failed: " + reason,
                     true);
}

}  // namespace

void checkDocumentSignature(SetupContext& context, const std::wstring& documentUrl,
                            const std::wstring& cacheBreaker, const std::string& body) {
    if (context.allowUnsigned) {
        logWarn(L"Signature of %ls not checked (--allow-unsigned)", documentUrl.c_str());
        return;
    }
    std::wstring signatureUrl = documentUrl + L".sig" + cacheBreaker;
    std::string signature;
    std::wstring error;
    if (!context.http->Get(signatureUrl, signature, error)) {
        checkCancelled(context);
        refuse(DocumentSignatureFault::Missing, documentUrl + cacheBreaker,
               L"the signature file " + signatureUrl + L" could not be fetched: " + error);
    }
    DocumentSignature result = verifyDocumentSignature(body, signature);
    if (!result.trusted()) {
        std::wstring signer = result.signer.empty() ? L"" : L" (signer \"" + result.signer + L"\")";
        refuse(result.fault, documentUrl + cacheBreaker, result.reason + signer);
    }
    logInfo(L"Signature of %ls: signer \"%ls\"", documentUrl.c_str(), result.signer.c_str());
    context.signedDocuments.push_back({documentUrl, result.signer});
}

}  // namespace qv
