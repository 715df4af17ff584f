#include "setup/release/network_errors.h"

#include "foundation/system_facts.h"
#include "foundation/text.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

struct ErrorCase {
    DWORD code;
    const wchar_t* sentence;  // nullptr: the system text alone
};

class NetworkError : public testing::TestWithParam<ErrorCase> {};

// Catches a code given the wrong sentence, or a sentence without the
// system text and code a support person needs.
TEST_P(NetworkError, SentenceThenSystemText) {
    const ErrorCase& c = GetParam();
    std::wstring system = formatText(L"%ls (error %lu)", windowsErrorText(c.code).c_str(), c.code);
    std::wstring expected = c.sentence ? std::wstring(c.sentence) + L" " + system : system;
    EXPECT_EQ(DescribeNetworkError(c.code), expected);
}

const wchar_t* const connect =
    L"Could not connect to the download server. A firewall, proxy or VPN may be blocking it.";
const wchar_t* const secure =
    L"The secure connection was refused. The PC clock may be wrong, or a security program or "
    L"proxy is inspecting HTTPS traffic.";

INSTANTIATE_TEST_SUITE_P(
    Codes, NetworkError,
    testing::Values(ErrorCase{12002, L"The download server stopped answering."},
                    ErrorCase{12007, L"The download server's name could not be found. Check that "
                                     L"this PC is online."},
                    ErrorCase{12029, connect}, ErrorCase{12030, connect}, ErrorCase{12037, secure},
                    ErrorCase{12038, secure}, ErrorCase{12045, secure}, ErrorCase{12175, secure},
                    ErrorCase{12157, nullptr}, ErrorCase{5, nullptr}, ErrorCase{0, nullptr}));

// Catches a text without the number, which is what the log reader searches for.
TEST(NetworkError, EndsWithTheCode) {
    std::wstring text = DescribeNetworkError(12029);
    EXPECT_NE(text.find(L"(error 12029)"), std::wstring::npos) << text;
}

}  // namespace
}  // namespace qv
