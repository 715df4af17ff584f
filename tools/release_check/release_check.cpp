#include "release_check.h"

#include "console_progress.h"

#include "foundation/app_versions.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "foundation/versions.h"
#include "setup/core/options.h"
#include "setup/core/setup_context.h"
#include "setup/core/setup_error.h"
#include "setup/core/uninstall_key.h"
#include "setup/install/install_layout.h"
#include "setup/release/http_client.h"
#include "setup/release/payload_download.h"
#include "setup/release/release_discovery.h"
#include "setup/release/version_choice.h"

namespace qv {
namespace {

struct CheckOptions {
    std::wstring baseUrl;
    std::wstring version;
    std::wstring channel;
    bool download = false;
    bool allowUnsigned = false;
};

const wchar_t* const usage =
    L"Usage: release-check.exe --base-url URL [--version x.y.z] [--channel NAME] [--download]\r\n"
    L"                         [--allow-unsigned]\r\n"
    L"  --base-url URL   the release server's origin, such as https://releases.example.com\r\n"
    L"  --version x.y.z  check this version instead of the latest\r\n"
    L"  --channel NAME   choose as an install that follows this channel\r\n"
    L"  --download       also download the payload and prove its SHA-256\r\n"
    L"  --allow-unsigned do not check the signatures of versions.json and manifest.json";

// False with a message for a command line the tool cannot run.
bool parseArguments(const std::vector<std::wstring>& arguments, CheckOptions& options,
                    std::wstring& error) {
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        bool hasValue = i + 1 < arguments.size();
        if (argument == L"--download") {
            options.download = true;
        } else if (argument == L"--allow-unsigned") {
            options.allowUnsigned = true;
        } else if ((argument == L"--base-url" || argument == L"--version" || argument == L"--channel") &&
                   !hasValue) {
            error = argument + L" needs a value";
            return false;
        } else if (argument == L"--base-url") {
            options.baseUrl = arguments[++i];
        } else if (argument == L"--version") {
            options.version = arguments[++i];
        } else if (argument == L"--channel") {
            options.channel = arguments[++i];
        } else {
            error = L"Unknown option " + argument;
            return false;
        }
    }
    while (!options.baseUrl.empty() && options.baseUrl.back() == L'/') options.baseUrl.pop_back();
    if (options.baseUrl.empty()) {
        error = L"--base-url is required";
        return false;
    }
    if (!options.version.empty() && !parseVersion(options.version)) {
        error = L"Not a version: " + options.version;
        return false;
    }
    return true;
}

// The newest version in the registered install folder; empty when none.
std::wstring registeredVersion() {
    wchar_t folder[2048];
    DWORD size = sizeof(folder);
    if (RegGetValueW(HKEY_CURRENT_USER, uninstallKeyPath, L"InstallLocation", RRF_RT_REG_SZ, nullptr, folder,
                     &size) != ERROR_SUCCESS)
        return {};
    std::vector<std::wstring> versions = findAppVersions(folder, launcherFileName);
    return versions.empty() ? std::wstring() : versions.front();
}

// What the index offers, this PC's bucket and the version it would get,
// weighed against the version installed here as the setup weighs it.
void printChoice(const SetupContext& context) {
    if (!context.indexSummary.empty()) writeLine(L"Version index: " + context.indexSummary);
    writeLine(formatText(L"Rollout bucket: %d (%ls)", context.rolloutBucket,
                         context.rolloutBucketDrawn ? L"none kept on this PC; drawn for this check"
                                                    : L"kept on this PC"));
    std::wstring why = context.versionChoice.empty() ? L"--version" : context.versionChoice;
    std::wstring installed = registeredVersion();
    if (!installed.empty()) writeLine(L"Installed here: " + installed);
    InstalledVerdict verdict = weighInstalled(context.revokedVersions, context.releaseVersion, installed);
    if (context.version.empty() && verdict == InstalledVerdict::KeepInstalled)
        writeLine(L"Would install: nothing; " + installed + L" is newer and stays (" + why + L")");
    else if (context.version.empty() && verdict == InstalledVerdict::Recall)
        writeLine(L"Would install: " + context.releaseVersion + L", in place of the withdrawn " + installed +
                  L" (" + why + L")");
    else
        writeLine(L"Would install: " + context.releaseVersion + L" (" + why + L")");
}

void printManifest(const SetupContext& context) {
    for (const SignedDocument& document : context.signedDocuments)
        writeLine(L"Signed by \"" + document.signer + L"\": " + document.url);
    writeLine(L"Version: " + context.releaseVersion);
    writeLine(L"Payload: " + context.payloadUrl);
    writeLine(L"SHA-256: " + fromUtf8(context.payloadSha256));
    writeLine(formatText(L"Payload size: %llu bytes", context.payloadSize));
    writeLine(formatText(L"Unpacked size: %llu bytes", context.unpackedSize));
    writeLine(formatText(L"Longest path: %d characters", context.longestPath));
    for (const ReleaseDelta& delta : context.deltas)
        writeLine(formatText(L"Delta from %ls: %ls, %llu bytes, SHA-256 %hs", delta.baseVersion.c_str(),
                             delta.url.c_str(), static_cast<unsigned long long>(delta.size), delta.sha256.c_str()));
}

}  // namespace

int runReleaseCheck(const std::vector<std::wstring>& arguments) {
    CheckOptions check;
    std::wstring problem;
    if (!parseArguments(arguments, check, problem)) {
        writeLine(problem);
        writeLine(usage);
        return releaseCheckBadCommandLine;
    }
    openLog(joinPath(tempFolder(), L"QuorvelAI-ReleaseCheck.log"));
    HttpClient client(userAgent);
    ConsoleProgress progress(client);
    SetupOptions options;
    options.baseUrl = check.baseUrl;
    options.version = check.version;
    options.channel = check.channel;
    options.allowUnsigned = check.allowUnsigned;
    SetupContext context(options, &progress, &client);
    try {
        DiscoverRelease(context);
        printChoice(context);
        printManifest(context);
        if (check.download) writeLine(L"Proved payload: " + DownloadPayload(context));
    } catch (const SetupError& error) {
        writeLine(errorReport(error, L"", context.releaseVersion.empty() ? check.version
                                                                         : context.releaseVersion));
        return releaseCheckFailed;
    }
    writeLine(L"OK");
    return releaseCheckOk;
}

}  // namespace qv
