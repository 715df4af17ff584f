#include "release_discovery.h"

#include "delta_manifest.h"
#include "http_client.h"
#include "json.h"
#include "signed_document.h"

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

// Releases are numbered major.minor.patch at least; a shorter number would
// compare equal to its longer form (1.2 = 1.2.0) and name two folders.
bool isReleaseVersion(const std::wstring& version) {
    std::vector<uint32_t> parts;
    return parseVersion(version, &parts) && parts.size() >= 3;
}

// The version named by the index, or throws QV-NET-1 / QV-NET-2.
std::wstring latestVersion(SetupContext& context, const std::wstring& cacheBreaker) {
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
    JsonValue index;
    std::string jsonError;
    const JsonValue* found = nullptr;
    if (ParseJson(body, index, &jsonError)) found = FindPath(index, "platforms.windows.version");
    std::wstring version;
    if (found && found->type == JsonType::String) version = fromUtf8(found->text);
    if (!found || found->type != JsonType::String || !isReleaseVersion(version))
        throw SetupError(L"QV-NET-2",
                         L"The download server sent an answer the setup does not understand.",
                         url + L"\n" + fromUtf8(jsonError) + L"\n" + bodyStart(body, 300), true);
    return version;
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

}  // namespace

void DiscoverRelease(SetupContext& context) {
    context.progress->reportStatus(StatusLine::CheckingLatest, L"Checking for the latest version\u2026");
    context.progress->setProgress(-1);
    std::wstring version = context.version;
    // One value for both documents, so that caches in between answer neither.
    std::wstring cacheBreaker =
        formatText(L"?t=%llu", static_cast<unsigned long long>(GetTickCount64()));
    if (version.empty()) version = latestVersion(context, cacheBreaker);
    logInfo(L"Version to install: %ls", version.c_str());

    std::wstring folderUrl = context.baseUrl + L"/Installs/" + version + L"/win-x64/";
    std::wstring manifestUrl = folderUrl + L"manifest.json" + cacheBreaker;
    std::string body;
    std::wstring error;
    if (!context.http->Get(manifestUrl, body, error)) {
        checkCancelled(context);
        throw SetupError(L"QV-NET-3",
                         L"Could not get the install information for version " + version + L".",
                         manifestUrl + L"\n" + error, true);
    }
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
