#include "network_errors.h"

#include "foundation/system_facts.h"
#include "foundation/text.h"

#include <winhttp.h>

namespace qv {
namespace {

// The codes a user meets most: a dead server, no name resolution, a blocked
// connection, an inspected or refused TLS channel.
const wchar_t* sentenceFor(DWORD code) {
    switch (code) {
        case ERROR_WINHTTP_TIMEOUT:
            return L"The download server stopped answering.";
        case ERROR_WINHTTP_NAME_NOT_RESOLVED:
            return L"The download server's name could not be found. Check that this PC is online.";
        case ERROR_WINHTTP_CANNOT_CONNECT:
        case ERROR_WINHTTP_CONNECTION_ERROR:
            return L"Could not connect to the download server. A firewall, proxy or VPN may be "
                   L"blocking it.";
        case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
        case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
        case ERROR_WINHTTP_SECURE_INVALID_CA:
        case ERROR_WINHTTP_SECURE_FAILURE:
            return L"The secure connection was refused. The PC clock may be wrong, or a security "
                   L"program or proxy is inspecting HTTPS traffic.";
        default:
            return nullptr;
    }
}

}  // namespace

std::wstring DescribeNetworkError(DWORD code) {
    std::wstring system = formatText(L"%ls (error %lu)", windowsErrorText(code).c_str(), code);
    const wchar_t* sentence = sentenceFor(code);
    if (!sentence) return system;
    return std::wstring(sentence) + L" " + system;
}

}  // namespace qv
