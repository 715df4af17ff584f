// Release discovery: which version to install and where its payload lies,
// learnt from the release server's version index and the version's manifest.
#pragma once

#include "setup/core/setup_context.h"

#include <string>

namespace qv {

// The manifest format generation this setup understands.
inline constexpr int releaseSchema = 1;

// Fills the release fields of context and sets releaseKnown last. Asks for
// the version index only when context.version is empty. Uses context.http
// and context.progress. Each document is read only after its signature
// file proved it (checkDocumentSignature). Throws SetupError (QV-CANCEL,
// QV-NET-1 to QV-NET-4, QV-SIG-2 to QV-SIG-4,
// QV-OLD-1); a failure leaves releaseKnown false.
void DiscoverRelease(SetupContext& context);

}  // namespace qv
