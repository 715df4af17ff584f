// The record every setup step receives: the options, the progress and HTTP
// client in use (neither owned), and the release fields that release
// discovery fills.
#pragma once

#include "options.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

class Progress;
class HttpClient;

// A delta the manifest offers: the files that changed since baseVersion.
struct ReleaseDelta {
    std::wstring baseVersion;
    std::wstring url;
    std::string sha256;  // 64 lower-case hex digits
    uint64_t size = 0;
};

// A release document whose signature was checked, and who signed it.
struct SignedDocument {
    std::wstring url;
    std::wstring signer;
};

struct SetupContext {
    SetupContext(const SetupOptions& options, Progress* progress, HttpClient* http);

    // A copy of every option.
    int32_t uninstall;
    bool update;
    bool silent;
    int32_t launch;
    bool allowUnsigned;
    bool noShortcuts;
    bool removeData;
    bool confirmed;
    uint32_t waitPid;
    std::wstring dir;
    std::wstring baseUrl;
    std::wstring version;
    std::wstring channel;
    std::wstring uninstallRoot;

    Progress* progress;  // not owned
    HttpClient* http;    // not owned

    // Filled by release discovery; valid once releaseKnown is set.
    std::wstring releaseVersion;
    std::wstring payloadUrl;
    std::string payloadSha256;  // 64 lower-case hex digits
    uint64_t payloadSize = 0;
    uint64_t unpackedSize = 0;
    int32_t longestPath = 0;
    // The usable deltas of the manifest, in its order; may be empty.
    std::vector<ReleaseDelta> deltas;
    // The versions the index withdraws; an install on one of them is
    // moved back to the chosen version.
    std::vector<std::wstring> revokedVersions;
    // What the version index offers and why this version was chosen, as
    // logged; empty when --version was given.
    std::wstring indexSummary;
    std::wstring versionChoice;
    // The documents whose signatures discovery checked, in the order read.
    std::vector<SignedDocument> signedDocuments;
    bool releaseKnown = false;

    // The install's rollout bucket (0 to 99): read from the uninstall
    // entry, or drawn by release discovery when the entry has none
    // (rolloutBucketDrawn), then kept there by the registration. -1 until
    // discovery ran.
    int32_t rolloutBucket = -1;
    bool rolloutBucketDrawn = false;
};

}  // namespace qv
