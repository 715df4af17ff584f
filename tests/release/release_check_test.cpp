#include "release_test_fixture.h"

#include "foundation/files.h"
#include "foundation/paths.h"
#include "setup/core/uninstall_key.h"
#include "tests/support/temp_folder.h"
#include "tests/uninstall/user_state.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

namespace qv::test {
namespace {

class ReleaseCheck : public ServerTest {
protected:
    // Runs release-check.exe with arguments through cmd, so that its output
    // lands in a file; TEMP points into this test's folder.
    DWORD run(const std::wstring& arguments) {
        std::wstring exe = joinPath(binFolder(), L"release-check.exe");
        std::wstring outFile = folder / L"out.txt";
        std::wstring line = L"cmd.exe /c \"\"" + exe + L"\" " + arguments + L" > \"" + outFile +
                            L"\" 2>&1\"";
        ChildResult result = runChild(L"C:\\windows\\system32\\cmd.exe", line,
                                      withTempFolder(folder.path(), 60000));
        EXPECT_TRUE(result.started);
        EXPECT_TRUE(result.finished);
        output = isFile(outFile) ? readFile(outFile) : std::string();
        return result.exitCode;
    }
    bool printed(const std::string& text) const { return output.find(text) != std::string::npos; }

    std::string prefix() { return uniquePath("r"); }

    TempFolder folder;
    std::string output;
};

// Catches a bad command line that runs anyway or exits with the wrong code.
TEST_F(ReleaseCheck, BadCommandLinesExitWith3) {
    for (const wchar_t* arguments :
         {L"", L"--base-url", L"--version 1.0.0", L"--base-url http://x --bogus",
          L"--base-url http://x --version 1.x", L"--base-url /"}) {
        EXPECT_EQ(run(arguments), 3u) << arguments;
        EXPECT_TRUE(printed("Usage: release-check.exe --base-url URL")) << output;
    }
}

// Catches a tool that hides the manifest it found or its success.
TEST_F(ReleaseCheck, DiscoveryPrintsTheManifest) {
    ManifestFields f;
    f.version = "4.0.1";
    f.payloadSha256 = std::string(64, 'c');
    f.payloadSize = "42";
    f.unpackedSize = "99";
    f.longestPath = "17";
    f.deltas = "[{\"baseVersion\":\"4.0.0\",\"name\":\"d.delta\",\"size\":7,\"sha256\":\"" +
               std::string(64, 'd') + "\"}]";
    publishFile(prefix() + "/Installs/4.0.1/win-x64/manifest.json", manifestJson(f));
    publishFile(prefix() + "/versions.json", "{\"platforms\":{\"windows\":{\"version\":\"4.0.1\"}}}");
    EXPECT_EQ(run(L"--base-url " + httpUrl(prefix()) + L"/ --allow-unsigned"), 0u) << output;
    EXPECT_TRUE(printed("Checking for the latest version\xE2\x80\xA6")) << output;
    EXPECT_TRUE(printed("Version: 4.0.1")) << output;
    EXPECT_TRUE(printed("Payload size: 42 bytes")) << output;
    EXPECT_TRUE(printed("Longest path: 17 characters")) << output;
    EXPECT_TRUE(printed("Delta from 4.0.0: " + toUtf8(httpUrl(prefix())) + "/Installs/4.0.1/win-x64/d.delta, 7 bytes, SHA-256 " +
                        std::string(64, 'd')))
        << output;
    EXPECT_TRUE(printed("\r\nOK\r\n")) << output;
}

void setEntryBucket(DWORD bucket) {
    RegSetKeyValueW(HKEY_CURRENT_USER, uninstallKeyPath, rolloutBucketValue, REG_DWORD, &bucket, sizeof(bucket));
}

// Catches a tool that hides the rollout, reads another bucket than the
// one kept, or names another version than the setup would install.
TEST_F(ReleaseCheck, PrintsTheRolloutTheBucketAndTheChoice) {
    ManifestFields f;
    f.version = "4.1.0";
    f.payloadSha256 = std::string(64, 'c');
    f.payloadSize = f.unpackedSize = f.longestPath = "5";
    publishFile(prefix() + "/Installs/4.1.0/win-x64/manifest.json", manifestJson(f));
    publishFile(prefix() + "/versions.json",
                "{\"platforms\":{\"windows\":{\"version\":\"4.0.0\",\"rollout\":{\"version\":\"4.1.0\","
                "\"percent\":50},\"revoked\":[\"3.9.0\"]}}}");
    SavedKey entry(uninstallKeyPath);
    setEntryBucket(49);
    EXPECT_EQ(run(L"--base-url " + httpUrl(prefix()) + L" --allow-unsigned"), 0u) << output;
    EXPECT_TRUE(printed("Version index: stable 4.0.0, rollout 4.1.0 at 50 %, revoked 3.9.0\r\n")) << output;
    EXPECT_TRUE(printed("Rollout bucket: 49 (kept on this PC)\r\n")) << output;
    EXPECT_TRUE(printed("Would install: 4.1.0 (rollout at 50 %)\r\n")) << output;

    // Installed here: a newer version stays, a withdrawn one is replaced.
    std::wstring root = folder / L"installed";
    makeFolders(root + L"\\app-4.2.0");
    writeFile(root + L"\\app-4.2.0\\QuorvelAI.exe", "app");
    setString(uninstallKeyPath, L"InstallLocation", root);
    EXPECT_EQ(run(L"--base-url " + httpUrl(prefix()) + L" --allow-unsigned"), 0u) << output;
    EXPECT_TRUE(printed("Would install: nothing; 4.2.0 is newer and stays (rollout at 50 %)\r\n")) << output;
    publishFile(prefix() + "/versions.json",
                "{\"platforms\":{\"windows\":{\"version\":\"4.0.0\",\"rollout\":{\"version\":\"4.1.0\","
                "\"percent\":50},\"revoked\":[\"4.2.0\"]}}}");
    EXPECT_EQ(run(L"--base-url " + httpUrl(prefix()) + L" --allow-unsigned"), 0u) << output;
    EXPECT_TRUE(printed("Would install: 4.1.0, in place of the withdrawn 4.2.0 (rollout at 50 %)\r\n")) << output;
}

// Catches a failure that exits 0 or prints no error report.
TEST_F(ReleaseCheck, FailurePrintsTheReport) {
    EXPECT_EQ(run(L"--base-url " + httpUrl(prefix()) + L" --version 5.5.5"), 1u) << output;
    EXPECT_TRUE(printed("Error: QV-NET-3")) << output;
    EXPECT_TRUE(printed("Could not get the install information for version 5.5.5.")) << output;
    EXPECT_TRUE(printed("Details: " + toUtf8(httpUrl(prefix())) + "/Installs/5.5.5/")) << output;
    EXPECT_TRUE(printed("Version: 5.5.5")) << output;
}

// Catches --download that does not download, prove, or report progress.
TEST_F(ReleaseCheck, DownloadProvesThePayload) {
    std::string payload = patternBytes(3000000, 5);
    ManifestFields f;
    f.version = "4.0.2";
    f.payload = "app.tar.xz";
    f.payloadSha256 = sha256Hex(payload);
    f.payloadSize = std::to_string(payload.size());
    f.unpackedSize = "99";
    publishFile(prefix() + "/Installs/4.0.2/win-x64/manifest.json", manifestJson(f));
    publishFile(prefix() + "/Installs/4.0.2/win-x64/app.tar.xz", payload);
    EXPECT_EQ(run(L"--base-url " + httpUrl(prefix()) + L" --version 4.0.2 --download --allow-unsigned"), 0u)
        << output;
    EXPECT_TRUE(printed("Downloading QuorvelAI 4.0.2\xE2\x80\xA6")) << output;
    EXPECT_TRUE(printed("2.9 MB of 2.9 MB")) << output;
    EXPECT_TRUE(printed("Proved payload: ")) << output;
    std::wstring file = joinPath(joinPath(folder.path(), L"QuorvelAI-Setup"),
                                 L"QuorvelAI-4.0.2-" + fromUtf8(f.payloadSha256.substr(0, 12)) +
                                     L".tar.xz");
    EXPECT_EQ(fileSize(file), payload.size());
}

// Catches a tool that checks less than the setup, or hides who signed.
TEST_F(ReleaseCheck, SignaturesAreCheckedAndTheirSignerPrinted) {
    std::string manifest = prefix() + "/Installs/1.0.0/win-x64/manifest.json";
    publishFile(prefix() + "/versions.json", signedDocumentFixture("index.json"));
    publishFile(manifest, signedDocumentFixture("manifest.json"));
    publishFile(manifest + ".sig", signedDocumentFixture("manifest.json.sig"));
    // Empty rather than absent: the server's root outlives a run of the tests.
    publishFile(prefix() + "/versions.json.sig", "");
    EXPECT_EQ(run(L"--base-url " + httpUrl(prefix())), 1u) << output;
    EXPECT_TRUE(printed("Error: QV-SIG-2")) << output;
    publishFile(prefix() + "/versions.json.sig", signedDocumentFixture("index.json.sig"));
    EXPECT_EQ(run(L"--base-url " + httpUrl(prefix())), 0u) << output;
    EXPECT_TRUE(printed("Signed by \"Quorvel, LLC\": " + toUtf8(httpUrl(prefix())) + "/versions.json\r\n"))
        << output;
    EXPECT_TRUE(printed("Signed by \"Quorvel, LLC\": " + toUtf8(httpUrl(manifest)) + "\r\n")) << output;
}

}  // namespace
}  // namespace qv::test
