// The Authenticode check of the staged program.
#pragma once

#include "setup/core/setup_context.h"
#include "setup/release/document_signature.h"

#include <cstdint>
#include <string>

namespace qv {

struct SignatureResult {
    bool verified = false;
    int32_t status = 0;   // what WinVerifyTrust returned
    std::wstring signer;  // the signing certificate's display name, or empty
};

// Never throws.
SignatureResult verifySignature(const std::wstring& path);

// Checks folder\QuorvelAI.exe. Throws QV-AV-2 (missing) or QV-SIG-1.
void checkProgramSignature(const SetupContext& context, const std::wstring& folder);

}  // namespace qv
