#include "release_discovery.h"

#include "delta_manifest.h"
#include "http_client.h"
#include "json.h"
#include "release_index.h"
#include "rollout_bucket.h"
#include "signed_document.h"
#include "version_choice.h"

#include "foundation/log.h"
#include "foundation/text.h"
#include "foundation/versions.h"
#include "setup/core/progress.h"
#include "setup/core/setup_error.h"

#include <windows.h>

#include <vector>

namespace qv {
namespace {

// A lower-case copy; only ASCII letters change, as in a hex digest.
std::string asciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::wstring bodyStart(const std::string& body, size_t bytes) {
    return fromUtf8(body.substr(0, bytes));
}

bool isPayloadName(const std::string& name) {
    return !name.empty() && name.find_first_of("/\\?#:") == std::string::npos;
}

// The hash's first characters name the download file: anything but hex
// digits could make a path separator or a stream marker out of them.
bool isSha256Hex(const std::string& hash) {
    return hash.size() == 64 &&
           hash.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The version the index offers this install, or throws QV-NET-1 / QV-NET-2.
// Keeps the index's withdrawn versions and the reason of the choice in the
// context; stable receives the index's stable version.
VersionChoice chooseFromIndex(SetupContext& context, const std::wstring& cacheBreaker,
                              std::wstring& stable) {
    std::wstring documentUrl = context.baseUrl + L"/versions.json";
    std::wstring url = documentUrl + cacheBreaker;
    std::string body;
    std::wstring error;
    if (!context.http->Get(url, body, error)) {
        checkCancelled(context);
        throw SetupError(L"QV-NET-1",
                         L"Could not reach the QuorvelAI download server. Check your internet "
                         L"connection.",
                         url + L"\n" + error, true);
    }
    // Nothing of a document is read before its signature is proved.
    checkDocumentSignature(context, documentUrl, cacheBreaker, body);
    JsonValue document;
    std::string jsonError;
    ReleaseIndex index;
    if (ParseJson(body, document, &jsonError)) index = readReleaseIndex(document);
    context.indexSummary = describeReleaseIndex(index);
    logInfo(L"Version index: %ls", context.indexSummary.c_str());
    VersionChoice choice = chooseVersion(index, context.rolloutBucket, context.channel);
    // A withdrawn stable version leaves nothing safe to install.
    if (choice.version.empty())
        throw SetupError(L"QV-NET-2",
                         L"The download server sent an answer the setup does not understand.",
                         url + L"\n" + fromUtf8(jsonError) + L"\n" + bodyStart(body, 300), true);
    if (!context.channel.empty() && choice.source != ChoiceSource::Channel)
        logInfo(L"Channel %ls is not in the version index; following the stable rules",
                context.channel.c_str());
    logInfo(L"Version choice: %ls (%ls; rollout bucket %d)", choice.version.c_str(), choice.reason.c_str(),
            context.rolloutBucket);
    context.revokedVersions = index.revoked;
    context.versionChoice = choice.reason;
    stable = index.stable;
    return choice;
}

// Checks the manifest's members and stores them; throws QV-OLD-1 / QV-NET-4.
void readManifest(SetupContext& context, const JsonValue& manifest, const std::string& body,
                  const std::wstring& version, const std::wstring& folderUrl,
                  const std::wstring& manifestUrl) {
    int64_t schema = GetInt(manifest, "schema", 0);
    if (schema > releaseSchema)
        throw SetupError(L"QV-OLD-1",
                         L"This setup is too old for the current QuorvelAI. Download the setup "
                         L"again.",
                         formatText(L"manifest schema %lld, setup understands %d",
                                    static_cast<long long>(schema), releaseSchema),
                         false);
    context.releaseVersion = fromUtf8(GetString(manifest, "version", ""));
    std::string payload = GetString(manifest, "payload", "");
    context.payloadSha256 = asciiLower(GetString(manifest, "payloadSha256", ""));
    int64_t payloadSize = GetInt(manifest, "payloadSize", -1);
    int64_t unpackedSize = GetInt(manifest, "unpackedSize", -1);
    int64_t longestPath = GetInt(manifest, "longestPath", -1);
    // The path length feeds a 32-bit field; anything beyond it is nonsense.
    bool fine = context.releaseVersion == version && isReleaseVersion(version) &&
                isPayloadName(payload) && isSha256Hex(context.payloadSha256) &&
                payloadSize >= 1 && unpackedSize >= 1 &&
                longestPath >= 1 && longestPath <= INT32_MAX;
    if (!fine)
        throw SetupError(L"QV-NET-4", L"The install information for version " + version +
                                          L" is damaged.",
                         manifestUrl + L"\n" + bodyStart(body, 500), true);
    context.payloadUrl = folderUrl + fromUtf8(payload);
    context.payloadSize = static_cast<uint64_t>(payloadSize);
    context.unpackedSize = static_cast<uint64_t>(unpackedSize);
    context.longestPath = static_cast<int32_t>(longestPath);
}

// The manifest of version, or throws QV-NET-3. A rollout or channel version
// whose manifest cannot be had is passed over for stable (when not empty):
// the index names it, but it is not published as it should be.
std::string getManifest(SetupContext& context, std::wstring& version, const std::wstring& stable,
                        const std::wstring& cacheBreaker) {
    logInfo(L"Version to install: %ls", version.c_str());
    std::string body;
    std::wstring error;
    std::wstring url = context.baseUrl + L"/Installs/" + version + L"/win-x64/manifest.json" + cacheBreaker;
    if (context.http->Get(url, body, error)) return body;
    checkCancelled(context);
    if (!stable.empty() && stable != version) {
        logWarn(L"Version %ls is not published (%ls); installing the stable version %ls", version.c_str(),
                error.c_str(), stable.c_str());
        version = stable;
        return getManifest(context, version, L"", cacheBreaker);
    }
    throw SetupError(L"QV-NET-3", L"Could not get the install information for version " + version + L".",
                     url + L"\n" + error, true);
}

}  // namespace

void DiscoverRelease(SetupContext& context) {
    context.progress->reportStatus(StatusLine::CheckingLatest, L"Checking for the latest version\u2026");
    context.progress->setProgress(-1);
    // Every install has a bucket, also one installed with --version.
    takeRolloutBucket(context);
    std::wstring version = context.version;
    std::wstring stable;
    // One value for both documents, so that caches in between answer neither.
    std::wstring cacheBreaker =
        formatText(L"?t=%llu", static_cast<unsigned long long>(GetTickCount64()));
    if (version.empty()) version = chooseFromIndex(context, cacheBreaker, stable).version;
    std::string body = getManifest(context, version, stable, cacheBreaker);

    std::wstring folderUrl = context.baseUrl + L"/Installs/" + version + L"/win-x64/";
    std::wstring manifestUrl = folderUrl + L"manifest.json" + cacheBreaker;
    checkDocumentSignature(context, folderUrl + L"manifest.json", cacheBreaker, body);
    JsonValue manifest;
    std::string jsonError;
    if (!ParseJson(body, manifest, &jsonError) || manifest.type != JsonType::Object)
        throw SetupError(L"QV-NET-4",
                         L"The install information for version " + version + L" is damaged.",
                         manifestUrl + L"\n" + fromUtf8(jsonError), true);
    readManifest(context, manifest, body, version, folderUrl, manifestUrl);
    context.releaseKnown = true;
    logInfo(L"Manifest: payload %ls, %llu bytes, sha256 %hs, unpacked %llu, longest path %d",
            context.payloadUrl.c_str(), static_cast<unsigned long long>(context.payloadSize),
            context.payloadSha256.c_str(), static_cast<unsigned long long>(context.unpackedSize),
            context.longestPath);
    readManifestDeltas(context, manifest, folderUrl);
}

}  // namespace qv
