#include "setup/install/signature.h"

#include "foundation/paths.h"
#include "foundation/text.h"
#include "setup/core/setup_error.h"
#include "tests/install/logged_test.h"
#include "tests/support/child_process.h"

namespace qv {
namespace {

// Copies of the demo program signed at build time, one folder per case,
// beside the CA that issued the signing certificates.
std::wstring fixture(const wchar_t* name) {
    return joinPath(joinPath(test::binFolder(), L"signature-fixtures"), name);
}

class SignatureTest : public test::LoggedTest {
protected:
    static void SetUpTestSuite() {
        // Without the test CA in the prefix's Root store nothing verifies.
        test::ChildResult trust =
            test::runChild(joinPath(test::binFolder(), L"qv-trust-cert.exe"),
                           L"qv-trust-cert.exe add \"" + fixture(L"ca.crt") + L"\"");
        ASSERT_TRUE(trust.finished && trust.exitCode == 0);
    }
    SetupOptions options;
    SetupError check(const std::wstring& folder) {
        try {
            checkProgramSignature(SetupContext(options, nullptr, nullptr), folder);
        } catch (const SetupError& error) {
            return error;
        }
        return {};
    }
};

TEST_F(SignatureTest, OnlyAValidQuorvelSignaturePasses) {
    struct Case {
        const wchar_t* folder;
        uint32_t status;
        const wchar_t* signer;  // nullptr: Windows names the signer of a changed file, Wine not
    } cases[] = {
        {L"quorvel", 0, L"Quorvel, LLC"},
        // Catches any valid signature accepted without comparing the signer.
        {L"other", 0, L"Other Publisher, Inc."},
        // Catches a failed trust call taken for success.
        {L"unsigned", 0x800B0100u, L""},
        // Catches the signer's name alone deciding.
        {L"tampered", 0x80096010u, nullptr},
        // Catches the name compared without case, or as a prefix either way.
        {L"case", 0, L"quorvel, llc"},
        {L"longer", 0, L"Quorvel, LLC Imposter"},
        {L"shorter", 0, L"Quorvel"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toUtf8(c.folder));
        std::wstring program = joinPath(fixture(c.folder), L"QuorvelAI.exe");
        SignatureResult result = verifySignature(program);
        EXPECT_EQ(uint32_t(result.status), c.status);
        EXPECT_EQ(result.verified, c.status == 0);
        if (c.signer) {
            EXPECT_EQ(result.signer, c.signer);
        }
        SetupError error = check(fixture(c.folder));
        std::wstring facts =
            formatText(L"0x%08lx, signer \"%ls\"", (unsigned long)c.status, result.signer.c_str());
        EXPECT_EQ(logLines(toUtf8(L"INFO  Signature of " + program + L": status " + facts)), 1u);
        bool passes = c.folder == std::wstring(L"quorvel");
        EXPECT_EQ(error.code, passes ? L"" : L"QV-SIG-1");
        if (passes) continue;
        EXPECT_EQ(error.message,
                  L"The downloaded program is not signed by Quorvel, LLC, so the "
                  L"setup did not install it.");
        EXPECT_EQ(error.detail, program + L": WinVerifyTrust " + facts);
        EXPECT_FALSE(error.retryable);
    }
}

// Catches --allow-unsigned still asking Windows or skipping silently, and a
// missing program let through by it or reported as a (final) bad signature.
TEST_F(SignatureTest, AllowUnsignedSkipsOnlyTheTrustCall) {
    options.allowUnsigned = true;
    EXPECT_EQ(check(fixture(L"unsigned")).code, L"");
    EXPECT_EQ(logLines("WARN  Signature check skipped (--allow-unsigned)\r\n"), 1u);
    EXPECT_EQ(logLines("Signature of"), 0u);
    for (bool allow : {false, true}) {
        options.allowUnsigned = allow;
        SetupError error = check(temp.path());
        EXPECT_EQ(error.code, L"QV-AV-2");
        EXPECT_EQ(error.message,
                  L"QuorvelAI's program file disappeared right after installing. "
                  L"An antivirus may have removed it; allow QuorvelAI and try again.");
        EXPECT_EQ(error.detail, temp / L"QuorvelAI.exe");
        EXPECT_TRUE(error.retryable);
    }
}

}  // namespace
}  // namespace qv
