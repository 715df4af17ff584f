#include "setup/install/signature.h"

#include "foundation/paths.h"
#include "foundation/text.h"
#include "setup/core/options.h"
#include "setup/core/setup_error.h"
#include "tests/install/logged_test.h"
#include "tests/support/child_process.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

// The signed copies of the demo program made at build time, one folder per
// case, beside the CA that signed them.
std::wstring fixtures() { return joinPath(test::binFolder(), L"signature-fixtures"); }

class SignatureTest : public test::LoggedTest {
protected:
    static void SetUpTestSuite() {
        // The prefix must trust the test CA, or no signature verifies.
        std::wstring tool = joinPath(test::binFolder(), L"qv-trust-cert.exe");
        std::wstring ca = joinPath(fixtures(), L"ca.crt");
        test::ChildResult trusted =
            test::runChild(tool, L"qv-trust-cert.exe add \"" + ca + L"\"");
        ASSERT_TRUE(trusted.finished && trusted.exitCode == 0) << "could not trust " << toUtf8(ca);
    }

    SetupOptions options;
    SetupError checkFolder(const std::wstring& folder) {
        SetupContext context(options, nullptr, nullptr);
        try {
            checkProgramSignature(context, folder);
        } catch (const SetupError& error) {
            return error;
        }
        return {};
    }
};

struct SignedCase {
    const wchar_t* folder;
    bool passes;
    uint32_t status;
    const wchar_t* signer;  // nullptr: not fixed (see the tampered case)
};

// Under Wine as on Windows: an unsigned file gives TRUST_E_NOSIGNATURE, a
// changed byte TRUST_E_BAD_DIGEST.
const SignedCase kSignedCases[] = {
    {L"quorvel", true, 0, L"Quorvel, LLC"},
    // Catches trusting any valid signature without comparing the signer.
    {L"other", false, 0, L"Other Publisher, Inc."},
    // Catches a failed trust call taken for success.
    {L"unsigned", false, 0x800B0100u, L""},
    // Catches a signer name alone deciding. Windows still names the signer
    // of a changed file, Wine does not.
    {L"tampered", false, 0x80096010u, nullptr},
};

TEST_F(SignatureTest, OnlyAValidQuorvelSignaturePasses) {
    for (const SignedCase& c : kSignedCases) {
        SCOPED_TRACE(toUtf8(c.folder));
        std::wstring folder = joinPath(fixtures(), c.folder);
        std::wstring program = joinPath(folder, L"QuorvelAI.exe");

        SignatureResult result = verifySignature(program);
        EXPECT_EQ(static_cast<uint32_t>(result.status), c.status);
        EXPECT_EQ(result.verified, c.status == 0);
        if (c.signer) {
            EXPECT_EQ(result.signer, c.signer);
        }

        SetupError error = checkFolder(folder);
        std::wstring facts = formatText(L"0x%08lx, signer \"%ls\"",
                                        static_cast<unsigned long>(c.status),
                                        result.signer.c_str());
        EXPECT_EQ(logLines(toUtf8(L"INFO  Signature of " + program + L": status " + facts)), 1u)
            << logText();
        if (c.passes) {
            EXPECT_TRUE(error.code.empty()) << toUtf8(error.detail);
            continue;
        }
        EXPECT_EQ(error.code, L"QV-SIG-1");
        EXPECT_EQ(error.message, L"The downloaded program is not signed by Quorvel, LLC, so the "
                                 L"setup did not install it.");
        EXPECT_EQ(error.detail, program + L": WinVerifyTrust " + facts);
        EXPECT_FALSE(error.retryable);
    }
}

// Catches --allow-unsigned still asking Windows, or skipping without a word.
TEST_F(SignatureTest, AllowUnsignedSkipsTheTrustCall) {
    options.allowUnsigned = true;
    SetupError error = checkFolder(joinPath(fixtures(), L"unsigned"));
    EXPECT_TRUE(error.code.empty());
    EXPECT_EQ(logLines("WARN  Signature check skipped (--allow-unsigned)\r\n"), 1u) << logText();
    EXPECT_EQ(logLines("Signature of"), 0u) << logText();
}

// Catches a missing program passing with --allow-unsigned, or reported as
// a bad signature (which would not be retryable).
TEST_F(SignatureTest, MissingProgramIsQvAv2EvenWhenUnsignedIsAllowed) {
    for (bool allow : {false, true}) {
        options.allowUnsigned = allow;
        SetupError error = checkFolder(temp.path());
        EXPECT_EQ(error.code, L"QV-AV-2");
        EXPECT_EQ(error.message, L"QuorvelAI's program file disappeared right after installing. "
                                 L"An antivirus may have removed it; allow QuorvelAI and try "
                                 L"again.");
        EXPECT_EQ(error.detail, temp / L"QuorvelAI.exe");
        EXPECT_TRUE(error.retryable);
    }
    EXPECT_EQ(logLines("WARN"), 0u) << logText();
}

}  // namespace
}  // namespace qv
