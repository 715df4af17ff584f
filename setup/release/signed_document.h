// The check of a release document's signature file, fetched right after
// the document itself.
#pragma once

#include "setup/core/setup_context.h"

#include <string>

namespace qv {

// Fetches documentUrl + ".sig" + cacheBreaker and checks it as the
// publisher's signature of body, the document's bytes as received; on
// success records the signer in context.signedDocuments. With
// allowUnsigned nothing is fetched and a WARN line names the document.
// Throws SetupError: QV-SIG-2 (missing or empty), QV-SIG-3 (does not match
// the document), QV-SIG-4 (not the publisher's trusted code-signing
// certificate), QV-CANCEL.
void checkDocumentSignature(SetupContext& context, const std::wstring& documentUrl,
                            const std::wstring& cacheBreaker, const std::string& body);

}  // namespace qv
