#include "release_test_fixture.h"

#include "setup/core/options.h"
#include "setup/core/setup_context.h"
#include "setup/core/setup_error.h"
#include "setup/release/release_discovery.h"
#include "foundation/log.h"
#include "tests/support/release_progress.h"
#include "tests/support/temp_folder.h"

namespace qv::test {
namespace {

const std::string goodSha = std::string(64, 'a');

class Discovery : public ServerTest {
protected:
    // The release root of this test: base + "/versions.json" and so on.
    std::string prefix() { return uniquePath("r"); }
    std::wstring base() { return httpUrl(prefix()); }

    void publishIndex(const std::string& document) { publishFile(prefix() + "/versions.json", document); }
    void publishManifest(const std::string& version, const std::string& document) {
        publishFile(prefix() + "/Installs/" + version + "/win-x64/manifest.json", document);
    }
    static ManifestFields fields(const std::string& version) {
        ManifestFields f;
        f.version = version;
        f.payloadSha256 = goodSha;
        f.payloadSize = "1234";
        f.unpackedSize = "5678";
        f.longestPath = "90";
        return f;
    }

    // Runs discovery; returns the error code, empty on success.
    std::wstring discover(const std::wstring& version = L"", std::wstring baseUrl = L"") {
        SetupOptions options;
        options.baseUrl = baseUrl.empty() ? base() : baseUrl;
        options.version = version;
        options.allowUnsigned = !checkSignatures;
        options.channel = channel;
        context_ = std::make_unique<SetupContext>(options, &progress, &client);
        try {
            DiscoverRelease(*context_);
        } catch (const SetupError& error) {
            error_ = error;
            return error.code;
        }
        return L"";
    }

    // The unsigned documents of most cases are read as --allow-unsigned does.
    bool checkSignatures = false;
    std::wstring channel;
    RecordingProgress progress;
    HttpClient client{userAgent, shortSchedule()};
    std::unique_ptr<SetupContext> context_;
    SetupError error_;
};

// Catches a discovery that loses or mangles a manifest field, and the
// upper-case hash that must be stored in lower case.
TEST_F(Discovery, LatestVersionFillsTheContext) {
    publishIndex("{\"platforms\":{\"windows\":{\"version\":\"2.5.1\"},\"mac\":{}},\"x\":1}");
    ManifestFields f = fields("2.5.1");
    f.payloadSha256 = std::string(32, 'A') + std::string(32, 'b');
    publishManifest("2.5.1", manifestJson(f));
    ASSERT_EQ(discover(), L"") << error_.detail;
    EXPECT_TRUE(context_->releaseKnown);
    EXPECT_EQ(context_->releaseVersion, L"2.5.1");
    EXPECT_EQ(context_->payloadUrl, base() + L"/Installs/2.5.1/win-x64/QuorvelAI-win-x64.tar.xz");
    EXPECT_EQ(context_->payloadSha256, std::string(32, 'a') + std::string(32, 'b'));
    EXPECT_EQ(context_->payloadSize, 1234u);
    EXPECT_EQ(context_->unpackedSize, 5678u);
    EXPECT_EQ(context_->longestPath, 90);
    ASSERT_FALSE(progress.statuses.empty());
    EXPECT_EQ(progress.statuses[0], L"Checking for the latest version\u2026");
    ASSERT_FALSE(progress.fractions.empty());
    EXPECT_LT(progress.fractions[0], 0);
}

// Catches a cache breaker that differs between the two documents or is
// appended to the payload URL.
TEST_F(Discovery, BothDocumentsCarryTheSameCacheBreaker) {
    publishIndex("{\"platforms\":{\"windows\":{\"version\":\"1.0.0\"}}}");
    publishManifest("1.0.0", manifestJson(fields("1.0.0")));
    ASSERT_EQ(discover(), L"") << error_.detail;
    auto index = control.requestsFor(prefix() + "/versions.json");
    auto manifest = control.requestsFor(prefix() + "/Installs/1.0.0/win-x64/manifest.json");
    ASSERT_EQ(index.size(), 1u);
    ASSERT_EQ(manifest.size(), 1u);
    EXPECT_EQ(index[0].query.rfind("t=", 0), 0u);
    EXPECT_GT(index[0].query.size(), 2u);
    EXPECT_EQ(index[0].query, manifest[0].query);
    EXPECT_EQ(context_->payloadUrl.find(L'?'), std::wstring::npos);
}

// Catches a version index fetched although a version was asked for.
TEST_F(Discovery, AskedVersionSkipsTheIndex) {
    publishIndex("{\"platforms\":{\"windows\":{\"version\":\"9.9.9\"}}}");
    publishManifest("1.2.0", manifestJson(fields("1.2.0")));
    ASSERT_EQ(discover(L"1.2.0"), L"") << error_.detail;
    EXPECT_EQ(context_->releaseVersion, L"1.2.0");
    EXPECT_TRUE(control.requestsFor(prefix() + "/versions.json").empty());
    EXPECT_EQ(control.requests().size(), 1u);
}

struct IndexCase {
    const char* name;
    std::string document;
};

class DiscoveryIndex : public Discovery, public testing::WithParamInterface<IndexCase> {};

// Catches a version index answer accepted that names no usable version.
TEST_P(DiscoveryIndex, NonsenseIsNet2) {
    publishIndex(GetParam().document);
    EXPECT_EQ(discover(), L"QV-NET-2");
    EXPECT_EQ(error_.message, L"The download server sent an answer the setup does not understand.");
    EXPECT_TRUE(error_.retryable);
    EXPECT_EQ(error_.detail.rfind(base() + L"/versions.json?t=", 0), 0u) << error_.detail;
    EXPECT_FALSE(context_->releaseKnown);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, DiscoveryIndex,
    testing::Values(IndexCase{"number", "{\"platforms\":{\"windows\":{\"version\":2}}}"},
                    IndexCase{"space", "{\"platforms\":{\"windows\":{\"version\":\"1.2 .3\"}}}"},
                    IndexCase{"missing", "{\"platforms\":{\"windows\":{}}}"},
                    IndexCase{"flat", "{\"platforms\":{\"windows\":\"1.2.3\"}}"},
                    IndexCase{"empty", "{\"platforms\":{\"windows\":{\"version\":\"\"}}}"},
                    IndexCase{"path", "{\"platforms\":{\"windows\":{\"version\":\"../1\"}}}"},
                    IndexCase{"broken", "{\"platforms\":"}, IndexCase{"html", "<html>"},
                    // Valid version strings, but too short for a release number.
                    IndexCase{"twoParts", "{\"platforms\":{\"windows\":{\"version\":\"1.2\"}}}"},
                    IndexCase{"onePart", "{\"platforms\":{\"windows\":{\"version\":\"7\"}}}"}),
    [](const testing::TestParamInfo<IndexCase>& info) { return std::string(info.param.name); });

// Catches the JSON error and the start of the answer missing from the detail.
TEST_F(Discovery, Net2DetailNamesTheParseError) {
    publishIndex("{\"platforms\": nope}");
    EXPECT_EQ(discover(), L"QV-NET-2");
    EXPECT_NE(error_.detail.find(L"\nunexpected character\n{\"platforms\": nope}"), std::wstring::npos)
        << error_.detail;
}

// Catches an unreachable index reported as anything but QV-NET-1.
TEST_F(Discovery, MissingIndexIsNet1) {
    EXPECT_EQ(discover(), L"QV-NET-1");
    EXPECT_EQ(error_.message,
              L"Could not reach the QuorvelAI download server. Check your internet connection.");
    EXPECT_NE(error_.detail.find(L"\nThe server answered 404"), std::wstring::npos) << error_.detail;
    EXPECT_TRUE(error_.retryable);
}

// Catches a user's cancel turned into a network error.
TEST_F(Discovery, CancelledGetIsQvCancel) {
    progress.cancel = true;
    client.Cancel();
    EXPECT_EQ(discover(), L"QV-CANCEL");
    EXPECT_TRUE(control.requests().empty());
}

// Catches a manifest fetch failure not naming the version asked for.
TEST_F(Discovery, MissingManifestIsNet3) {
    EXPECT_EQ(discover(L"3.1.4"), L"QV-NET-3");
    EXPECT_EQ(error_.message, L"Could not get the install information for version 3.1.4.");
    EXPECT_EQ(error_.detail.rfind(base() + L"/Installs/3.1.4/win-x64/manifest.json?t=", 0), 0u)
        << error_.detail;
}

// Catches a channel (or rollout) version whose release is missing failing
// the run instead of falling back to the stable version, and a fallback
// that hides a stable version that is missing too.
TEST_F(Discovery, AnUnpublishedChannelVersionFallsBackToStable) {
    // 3.0.1 is never published, also by earlier runs on this server root.
    publishIndex("{\"platforms\":{\"windows\":{\"version\":\"3.0.1\",\"channels\":{\"beta\":\"4.0.0\"}}}}");
    channel = L"beta";
    EXPECT_EQ(discover(), L"QV-NET-3");
    EXPECT_EQ(error_.message, L"Could not get the install information for version 3.0.1.");
    publishIndex("{\"platforms\":{\"windows\":{\"version\":\"3.0.0\",\"channels\":{\"beta\":\"4.0.0\"}}}}");
    publishManifest("3.0.0", manifestJson(fields("3.0.0")));
    EXPECT_EQ(discover(), L"");
    EXPECT_EQ(context_->releaseVersion, L"3.0.0");
    EXPECT_EQ(context_->versionChoice, L"channel beta");
}

// Catches a broken or non-object manifest passing the parse check.
TEST_F(Discovery, UnparsableManifestIsNet4) {
    publishManifest("1.0.0", "{\"version\":\"1.0.0\",");
    EXPECT_EQ(discover(L"1.0.0"), L"QV-NET-4");
    EXPECT_EQ(error_.message, L"The install information for version 1.0.0 is damaged.");
    EXPECT_EQ(error_.detail.substr(error_.detail.find(L'\n')), L"\nexpected key");
    publishManifest("1.0.0", "[1]");
    EXPECT_EQ(discover(L"1.0.0"), L"QV-NET-4");
    EXPECT_EQ(error_.detail.back(), L'\n');  // no JSON error for a non-object
}

struct ManifestCase {
    const char* name;
    void (*change)(ManifestFields&);
    const wchar_t* code;  // empty: accepted
};

class DiscoveryManifest : public Discovery, public testing::WithParamInterface<ManifestCase> {};

// Catches a manifest rule that is missing, too strict or checked in the
// wrong order (the schema comes before everything else).
TEST_P(DiscoveryManifest, Rules) {
    ManifestFields f = fields("1.4.0");
    GetParam().change(f);
    std::string document = manifestJson(f);
    publishManifest("1.4.0", document);
    EXPECT_EQ(discover(L"1.4.0"), GetParam().code) << document;
    EXPECT_EQ(context_->releaseKnown, std::wstring(GetParam().code).empty());
    if (std::wstring(GetParam().code) == L"QV-NET-4") {
        EXPECT_NE(error_.detail.find(fromUtf8(document.substr(0, 500))), std::wstring::npos);
        EXPECT_TRUE(error_.retryable);
    }
    if (std::wstring(GetParam().code) == L"QV-OLD-1") {
        EXPECT_EQ(error_.message,
                  L"This setup is too old for the current QuorvelAI. Download the setup again.");
        EXPECT_FALSE(error_.retryable);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Members, DiscoveryManifest,
    testing::Values(
        ManifestCase{"good", [](ManifestFields&) {}, L""},
        ManifestCase{"schema2", [](ManifestFields& f) { f.schema = "2"; }, L"QV-OLD-1"},
        ManifestCase{"schema2AndBroken",
                     [](ManifestFields& f) { f.schema = "2"; f.payload = ""; }, L"QV-OLD-1"},
        ManifestCase{"schema0", [](ManifestFields& f) { f.schema = "0"; }, L""},
        ManifestCase{"schemaNegative", [](ManifestFields& f) { f.schema = "-3"; }, L""},
        ManifestCase{"schemaAbsent", [](ManifestFields& f) { f.schema = ""; }, L""},
        ManifestCase{"schemaFraction", [](ManifestFields& f) { f.schema = "2.5"; }, L""},
        ManifestCase{"versionExtraPart", [](ManifestFields& f) { f.version = "1.4.0.0"; }, L"QV-NET-4"},
        ManifestCase{"versionOther", [](ManifestFields& f) { f.version = "1.4.1"; }, L"QV-NET-4"},
        ManifestCase{"payloadSlash", [](ManifestFields& f) { f.payload = "a/b.tar.xz"; }, L"QV-NET-4"},
        ManifestCase{"payloadBackslash", [](ManifestFields& f) { f.payload = "a\\\\b.tar.xz"; }, L"QV-NET-4"},
        ManifestCase{"payloadColon", [](ManifestFields& f) { f.payload = "c:b.tar.xz"; }, L"QV-NET-4"},
        ManifestCase{"payloadQuery", [](ManifestFields& f) { f.payload = "b.tar.xz?x"; }, L"QV-NET-4"},
        ManifestCase{"payloadHash", [](ManifestFields& f) { f.payload = "b#x"; }, L"QV-NET-4"},
        ManifestCase{"payloadEmpty", [](ManifestFields& f) { f.payload = ""; }, L"QV-NET-4"},
        ManifestCase{"shaShort", [](ManifestFields& f) { f.payloadSha256.pop_back(); }, L"QV-NET-4"},
        // The hash names the download file: a separator, a stream marker or
        // any other non-hex character must not reach the file name.
        ManifestCase{"shaBackslash", [](ManifestFields& f) { f.payloadSha256.replace(2, 1, "\\\\"); }, L"QV-NET-4"},
        ManifestCase{"shaColon", [](ManifestFields& f) { f.payloadSha256[2] = ':'; }, L"QV-NET-4"},
        ManifestCase{"shaNotHex", [](ManifestFields& f) { f.payloadSha256[63] = 'g'; }, L"QV-NET-4"},
        ManifestCase{"shaSpace", [](ManifestFields& f) { f.payloadSha256[0] = ' '; }, L"QV-NET-4"},
        ManifestCase{"sizeFraction", [](ManifestFields& f) { f.payloadSize = "123.0"; }, L"QV-NET-4"},
        ManifestCase{"sizeString", [](ManifestFields& f) { f.payloadSize = "\"123\""; }, L"QV-NET-4"},
        ManifestCase{"sizeZero", [](ManifestFields& f) { f.payloadSize = "0"; }, L"QV-NET-4"},
        ManifestCase{"unpackedMissing", [](ManifestFields& f) { f.unpackedSize = ""; }, L"QV-NET-4"},
        ManifestCase{"longestZero", [](ManifestFields& f) { f.longestPath = "0"; }, L"QV-NET-4"},
        ManifestCase{"longestHuge", [](ManifestFields& f) { f.longestPath = "4294967297"; }, L"QV-NET-4"}),
    [](const testing::TestParamInfo<ManifestCase>& info) { return std::string(info.param.name); });

// Catches a delta item kept that the setup must not download (a name that
// leaves the version folder, a hash that cannot name a file, a base that is
// no release), a good one dropped or mangled, or a bad "deltas" member
// failing a release that the full payload can still install.
TEST_F(Discovery, DeltasKeepOnlyUsableItems) {
    auto item = [](const std::string& base, const std::string& name, const std::string& size,
                   const std::string& sha) {
        return "{\"baseVersion\":\"" + base + "\",\"name\":\"" + name + "\",\"size\":" + size +
               ",\"sha256\":\"" + sha + "\"}";
    };
    const std::string sha(64, 'B');
    const std::string good = item("1.3.0", "d.delta", "10", sha);
    struct Row { const char* name; std::string deltas; size_t kept; };
    const Row rows[] = {
        {"absent", "", 0},
        {"one", "[" + good + "]", 1},
        {"not a list", "{}", 0},
        {"not an object", "[" + good + ",7]", 1},
        {"name with slash", "[" + item("1.3.0", "a/d.delta", "10", sha) + "," + good + "]", 1},
        {"name with colon", "[" + item("1.3.0", "d:x", "10", sha) + "]", 0},
        {"empty name", "[" + item("1.3.0", "", "10", sha) + "]", 0},
        {"two-part base", "[" + item("1.3", "d.delta", "10", sha) + "]", 0},
        {"size zero", "[" + item("1.3.0", "d.delta", "0", sha) + "]", 0},
        {"size fraction", "[" + item("1.3.0", "d.delta", "10.0", sha) + "]", 0},
        {"short hash", "[" + item("1.3.0", "d.delta", "10", sha.substr(1)) + "]", 0},
        {"hash not hex", "[" + item("1.3.0", "d.delta", "10", "g" + sha.substr(1)) + "]", 0},
        {"two bases", "[" + good + "," + item("1.2.0", "e.delta", "5", sha) + "]", 2},
    };
    for (const Row& row : rows) {
        ManifestFields f = fields("1.4.0");
        f.deltas = row.deltas;
        publishManifest("1.4.0", manifestJson(f));
        ASSERT_EQ(discover(L"1.4.0"), L"") << row.name;
        EXPECT_TRUE(context_->releaseKnown) << row.name;
        ASSERT_EQ(context_->deltas.size(), row.kept) << row.name;
        if (row.kept == 0) continue;
        const ReleaseDelta& first = context_->deltas.front();
        EXPECT_EQ(first.baseVersion, L"1.3.0") << row.name;
        EXPECT_EQ(first.url, base() + L"/Installs/1.4.0/win-x64/d.delta") << row.name;
        EXPECT_EQ(first.sha256, std::string(64, 'b')) << row.name;
        EXPECT_EQ(first.size, 10u) << row.name;
    }
}

// Catches a release number shorter than three parts accepted from a
// manifest asked for by --version (1.4 and 1.4.0 would share one install).
TEST_F(Discovery, TwoPartVersionIsNet4) {
    publishManifest("1.4", manifestJson(fields("1.4")));
    EXPECT_EQ(discover(L"1.4"), L"QV-NET-4");
    EXPECT_EQ(error_.message, L"The install information for version 1.4 is damaged.");
    EXPECT_FALSE(context_->releaseKnown);
}

// Catches a QV-OLD-1 detail without the two schema numbers.
TEST_F(Discovery, Old1DetailNamesBothSchemas) {
    ManifestFields f = fields("1.0.0");
    f.schema = "7";
    publishManifest("1.0.0", manifestJson(f));
    EXPECT_EQ(discover(L"1.0.0"), L"QV-OLD-1");
    EXPECT_EQ(error_.detail, L"manifest schema 7, setup understands 1");
}

// Catches HTTPS discovery that does not work with a trusted certificate.
TEST_F(Discovery, OverTrustedHttps) {
    if (releaseServer().httpsUrl.empty()) GTEST_SKIP() << "no HTTPS port";
    publishIndex("{\"platforms\":{\"windows\":{\"version\":\"1.0.0\"}}}");
    publishManifest("1.0.0", manifestJson(fields("1.0.0")));
    ASSERT_EQ(discover(L"", releaseServer().httpsUrl + fromUtf8(prefix())), L"") << error_.detail;
    EXPECT_EQ(context_->payloadUrl.rfind(L"https://localhost:", 0), 0u);
}

// Catches a certificate from an unknown authority accepted, or its refusal
// reported as anything but a failure to reach the server.
TEST_F(Discovery, UntrustedHttpsIsNet1) {
    if (releaseServer().untrustedUrl.empty()) GTEST_SKIP() << "no untrusted HTTPS port";
    publishIndex("{\"platforms\":{\"windows\":{\"version\":\"1.0.0\"}}}");
    EXPECT_EQ(discover(L"", releaseServer().untrustedUrl + fromUtf8(prefix())), L"QV-NET-1");
    EXPECT_NE(error_.detail.find(L"(error 12"), std::wstring::npos) << error_.detail;
}

class SignedDiscovery : public Discovery {
protected:
    void SetUp() override {
        Discovery::SetUp();
        checkSignatures = true;
    }
    // Serves the genuine documents and signatures; a change then replaces
    // or removes one of them (nullptr: removed).
    void publishSigned(const char* replaced = nullptr, const char* with = nullptr) {
        const std::string manifest = "/Installs/1.0.0/win-x64/manifest.json";
        for (std::string name : {"index.json", "index.json.sig", "manifest.json", "manifest.json.sig"}) {
            std::string served = name.rfind("index", 0) == 0 ? "/versions.json" + name.substr(10)
                                                              : manifest + name.substr(13);
            std::string bytes = signedDocumentFixture(name);
            if (replaced && name == replaced) {
                if (!with) continue;
                bytes = std::string(with).rfind("bytes:", 0) == 0 ? std::string(with).substr(6)
                                                                  : signedDocumentFixture(with);
            }
            publishFile(prefix() + served, bytes);
        }
    }
};

// Catches a signature fetched without the documents' cache breaker, a
// signer not recorded for release-check, or the documents' URLs mangled.
TEST_F(SignedDiscovery, GenuineSignaturesPassWithTheCacheBreaker) {
    publishSigned();
    ASSERT_EQ(discover(), L"") << error_.detail;
    ASSERT_EQ(context_->signedDocuments.size(), 2u);
    EXPECT_EQ(context_->signedDocuments[0].url, base() + L"/versions.json");
    EXPECT_EQ(context_->signedDocuments[1].url, base() + L"/Installs/1.0.0/win-x64/manifest.json");
    EXPECT_EQ(context_->signedDocuments[1].signer, L"Quorvel, LLC");
    auto index = control.requestsFor(prefix() + "/versions.json");
    auto signature = control.requestsFor(prefix() + "/versions.json.sig");
    auto manifestSignature = control.requestsFor(prefix() + "/Installs/1.0.0/win-x64/manifest.json.sig");
    ASSERT_EQ(signature.size(), 1u);
    ASSERT_EQ(manifestSignature.size(), 1u);
    EXPECT_EQ(signature[0].query, index[0].query);
    EXPECT_EQ(manifestSignature[0].query, index[0].query);
}

struct SignedCase {
    const char* name;
    const char* replaced;  // fixture name of the served file changed
    const char* with;      // nullptr: removed; "bytes:..." literal bytes; else a fixture
    const wchar_t* code;
    bool manifestAsked;    // the failure comes after the manifest was fetched
};

class SignedDiscoveryFaults : public SignedDiscovery, public testing::WithParamInterface<SignedCase> {};

// Catches a document read, or the next one asked for, before its signature
// proved it, and a failure under the wrong code or not retryable.
TEST_P(SignedDiscoveryFaults, RefusedBeforeTheNextRequest) {
    publishSigned(GetParam().replaced, GetParam().with);
    EXPECT_EQ(discover(), GetParam().code);
    EXPECT_FALSE(context_->releaseKnown);
    EXPECT_TRUE(error_.retryable);
    EXPECT_NE(error_.detail.find(L"\nThe signature check failed: "), std::wstring::npos) << error_.detail;
    std::string manifest = prefix() + "/Installs/1.0.0/win-x64/manifest.json";
    EXPECT_EQ(control.requestsFor(manifest).empty(), !GetParam().manifestAsked);
    std::wstring document = GetParam().manifestAsked ? fromUtf8(manifest) : fromUtf8(prefix()) + L"/versions.json";
    EXPECT_EQ(error_.detail.rfind(releaseServer().httpUrl + document + L"?t=", 0), 0u) << error_.detail;
}

INSTANTIATE_TEST_SUITE_P(
    Signatures, SignedDiscoveryFaults,
    testing::Values(
        SignedCase{"indexSignatureMissing", "index.json.sig", nullptr, L"QV-SIG-2", false},
        SignedCase{"indexSignatureEmpty", "index.json.sig", "bytes:", L"QV-SIG-2", false},
        SignedCase{"indexChanged", "index.json", "bytes:{\"platforms\":{\"windows\":{\"version\":\"1.0.0\"}}} ", L"QV-SIG-3", false},
        SignedCase{"indexByOtherPublisher", "index.json.sig", "index.json.other.sig", L"QV-SIG-4", false},
        SignedCase{"manifestSignatureMissing", "manifest.json.sig", nullptr, L"QV-SIG-2", true},
        SignedCase{"manifestWithTheIndexSignature", "manifest.json.sig", "index.json.sig", L"QV-SIG-3", true}),
    [](const testing::TestParamInfo<SignedCase>& info) { return std::string(info.param.name); });

// Catches --allow-unsigned still asking for signatures, or skipping them
// without a WARN line naming each document.
TEST_F(Discovery, AllowUnsignedSkipsTheSignaturesWithAWarning) {
    TempFolder logFolder;
    openLog(logFolder / L"discovery.log");
    publishIndex("{\"platforms\":{\"windows\":{\"version\":\"1.0.0\"}}}");
    publishManifest("1.0.0", manifestJson(fields("1.0.0")));
    ASSERT_EQ(discover(), L"") << error_.detail;
    openLog(logFolder / L"closing.log");
    std::string log = readFile(logFolder / L"discovery.log");
    for (std::string document : {"/versions.json", "/Installs/1.0.0/win-x64/manifest.json"}) {
        EXPECT_NE(log.find("WARN  Signature of " + toUtf8(base()) + document + " not checked (--allow-unsigned)"),
                  std::string::npos) << log;
        EXPECT_TRUE(control.requestsFor(prefix() + document + ".sig").empty());
    }
    EXPECT_TRUE(context_->signedDocuments.empty());
}

}  // namespace
}  // namespace qv::test
