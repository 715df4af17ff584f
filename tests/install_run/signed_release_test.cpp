// End to end: the attacks a release host, CDN or proxy can make on signed
// releases, each against a genuine install that must keep working.
#include "install_run_support.h"

#include "foundation/paths.h"
#include "foundation/text.h"
#include "tests/support/http_control.h"

namespace qv::test {
namespace {

bool exists(const std::wstring& path) {
    return GetFileAttributesW(longPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct AttackRow {
    const char* variant;    // release server variant (make_releases.sh)
    const char* installed;  // the genuine version installed before the run
    const wchar_t* options;
    DWORD exitCode;
    const char* logged;     // a line of the run's log
    bool payloadAsked;      // may the run fetch 1.1.0's payload (a repair)
};

class SignedReleases : public InstallRunTest {
protected:
    // Brings root to version, installed from the genuine attack/ variant.
    void install(const std::wstring& root, const std::string& version) {
        SetupRun run = runSetup(temp.path(), silentArguments("attack", version, root) + L" --no-shortcuts");
        ASSERT_EQ(run.result.exitCode, 0u) << run.log;
    }
    ServerControl control;
};

// Catches any document the setup trusts without the publisher's signature
// over its very bytes (a swapped payload with a re-hashed manifest installs
// an extra DLL next to the genuine program), and an older index replayed
// that takes the install back: each row starts from a genuine install that
// must stay in place and start.
TEST_F(SignedReleases, AttacksLeaveTheInstalledVersionWorking) {
    const AttackRow rows[] = {
        {"swapped-kept", "1.0.0", L"", 1, "ERROR QV-SIG-3: ", false},
        {"swapped-none", "1.0.0", L"", 1, "ERROR QV-SIG-2: ", false},
        {"swapped-empty", "1.0.0", L"", 1, "ERROR QV-SIG-2: ", false},
        {"swapped-other", "1.0.0", L"", 1, "ERROR QV-SIG-4: ", false},
        {"swapped-stranger", "1.0.0", L"", 1, "ERROR QV-SIG-4: ", false},
        {"swapped-noeku", "1.0.0", L"", 1, "ERROR QV-SIG-4: ", false},
        {"swapped-expired", "1.0.0", L"", 1, "ERROR QV-SIG-4: ", false},
        {"swapped-foreign", "1.0.0", L"", 1, "ERROR QV-SIG-3: ", false},
        {"swapped-kept", "1.0.0", L" --update", 1, "ERROR QV-SIG-3: ", false},
        {"index-altered", "1.0.0", L"", 1, "ERROR QV-SIG-3: ", false},
        {"replayed", "1.1.0", L" --update", 0, "INFO  Nothing to update: 1.1.0 stays installed", false},
        {"replayed", "1.1.0", L"", 0, "INFO  Repairing the installed 1.1.0 from its own release", true},
        {"replayed-withdrawn", "1.1.0", L"", 0, "INFO  Keeping the installed 1.1.0 as it is", false},
    };
    std::wstring root = temp / L"root";
    std::string current;
    for (const AttackRow& row : rows) {
        std::string name = std::string(row.variant) + toUtf8(row.options);
        if (current != row.installed) {
            install(root, row.installed);
            current = row.installed;
        }
        ASSERT_TRUE(control.reset());
        SetupRun run = runSetup(temp.path(), L"--silent --no-shortcuts --no-launch --base-url " +
                                                 releaseUrl(row.variant) + L" --dir \"" + root + L"\"" +
                                                 row.options);
        EXPECT_EQ(run.result.exitCode, row.exitCode) << name << "\n" << run.log;
        EXPECT_TRUE(run.has(row.logged)) << name << "\n" << run.log;
        // Refused before anything is downloaded or changed.
        EXPECT_EQ(control.requestsFor(payloadPath(row.variant, "1.1.0")).empty(), !row.payloadAsked) << name;
        EXPECT_EQ(exists(root + L"\\app-1.1.0"), current == "1.1.0") << name;
        EXPECT_FALSE(exists(root + L"\\app-1.1.0.tmp")) << name;
        EXPECT_EQ(entryText(L"DisplayVersion"), fromUtf8(current)) << name;
        EXPECT_TRUE(launcherStartsVersion(root, fromUtf8(current))) << name;
    }
}

}  // namespace
}  // namespace qv::test
