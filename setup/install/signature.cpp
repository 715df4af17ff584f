#include "signature.h"

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "setup/core/setup_error.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

namespace qv {
namespace {

// The sizes of the structures as the trust provider knows them; a larger
// size from newer headers would ask for fields this check does not fill.
constexpr DWORD kFileInfoSize = 32;
constexpr DWORD kTrustDataSize = 80;
static_assert(sizeof(WINTRUST_FILE_INFO) == kFileInfoSize);
static_assert(sizeof(WINTRUST_DATA) >= kTrustDataSize);

constexpr DWORD kSignerNameChars = 512;

const wchar_t* const kMissingMessage =
    L"QuorvelAI's program file disappeared right after installing. An antivirus may have "
    L"removed it; allow QuorvelAI and try again.";
const wchar_t* const kUnsignedMessage =
    L"The downloaded program is not signed by Quorvel, LLC, so the setup did not install it.";

// The display name of the first signer's leaf certificate, read from the
// state the verify call left behind; empty when any piece is missing.
std::wstring signerName(HANDLE state) {
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(state);
    if (!provider) return {};
    CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
    if (!signer || signer->csCertChain == 0 || !signer->pasCertChain) return {};
    PCCERT_CONTEXT leaf = signer->pasCertChain[0].pCert;
    if (!leaf) return {};
    wchar_t name[kSignerNameChars] = {};
    DWORD count = CertGetNameStringW(leaf, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name,
                                     kSignerNameChars);
    // The count includes the terminating NUL; 1 means an empty name.
    if (count <= 1) return {};
    return std::wstring(name, count - 1);
}

}  // namespace

SignatureResult verifySignature(const std::wstring& path) {
    std::wstring file = longPath(path);
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = kFileInfoSize;
    fileInfo.pcwszFilePath = file.c_str();

    WINTRUST_DATA data{};
    data.cbStruct = kTrustDataSize;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    // Revocation is not checked and nothing is fetched: the install must
    // not wait on the network for a file it already holds.
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
    // The verify call keeps provider state until it is closed, on every path.
    ScopeGuard closeState([&] {
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(noWindow, &action, &data);
    });

    SignatureResult result;
    result.status = static_cast<int32_t>(WinVerifyTrust(noWindow, &action, &data));
    result.verified = result.status == 0;
    // Read even when the signature failed: the log then shows who signed
    // a tampered or untrusted file.
    if (data.hWVTStateData) result.signer = signerName(data.hWVTStateData);
    return result;
}

void checkProgramSignature(const SetupContext& context, const std::wstring& folder) {
    std::wstring program = joinPath(folder, L"QuorvelAI.exe");
    // Checked before the option: an unsigned run still needs its program.
    if (!isFile(program)) throw SetupError(L"QV-AV-2", kMissingMessage, program, true);
    if (context.allowUnsigned) {
        logWarn(L"Signature check skipped (--allow-unsigned)");
        return;
    }
    SignatureResult result = verifySignature(program);
    unsigned long status = static_cast<uint32_t>(result.status);
    logInfo(L"Signature of %ls: status 0x%08lx, signer \"%ls\"", program.c_str(), status,
            result.signer.c_str());
    if (result.verified && result.signer == expectedSigner) return;
    throw SetupError(L"QV-SIG-1", kUnsignedMessage,
                     formatText(L"%ls: WinVerifyTrust 0x%08lx, signer \"%ls\"", program.c_str(),
                                status, result.signer.c_str()),
                     false);
}

}  // namespace qv
