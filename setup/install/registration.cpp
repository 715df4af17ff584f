#include "registration.h"

#include "install_layout.h"

#include "foundation/files.h"
#include "foundation/folder_tree.h"
#include "foundation/handles.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"
#include "foundation/text.h"
#include "setup/core/options.h"

#include <shlobj.h>

#include <vector>

namespace qv {
namespace {

const wchar_t* const kDisplayName = L"QuorvelAI";
const wchar_t* const kPublisher = L"Quorvel, LLC";
constexpr size_t kAttributionIdChars = 19;  // "at_" + 16

bool setRegistryValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data,
                      DWORD bytes) {
    RegistryWriteGate gate = registryWriteGate();
    if (gate && !gate(key, name)) return false;
    RegKey handle;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                        nullptr, handle.put(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExW(handle.get(), name, 0, type, static_cast<const BYTE*>(data), bytes) ==
           ERROR_SUCCESS;
}

// One value of the uninstall entry: a text, or a number when isNumber.
struct EntryValue {
    const wchar_t* name;
    std::wstring text;
    DWORD number = 0;
    bool isNumber = false;
};

std::wstring todayText() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return formatText(L"%04u%02u%02u", static_cast<unsigned>(now.wYear),
                      static_cast<unsigned>(now.wMonth), static_cast<unsigned>(now.wDay));
}

// The values in the order Windows' app list expects to find them written;
// a partial entry then still names the app and its version.
std::vector<EntryValue> uninstallEntryValues(const SetupContext& context,
                                             const std::wstring& root) {
    std::wstring program = joinPath(joinPath(root, L"app-" + context.releaseVersion),
                                    launcherFileName);
    std::wstring uninstaller = L"\"" + joinPath(root, uninstallerFileName) + L"\" --uninstall";
    // Only the low 32 bits fit the value; sizes past 4 TiB are not expected.
    DWORD kibibytes = static_cast<DWORD>(context.unpackedSize / 1024);
    std::vector<EntryValue> values = {
        {L"DisplayName", kDisplayName},
        {L"DisplayVersion", context.releaseVersion},
        {L"Publisher", kPublisher},
        {L"DisplayIcon", program + L",0"},
        {L"InstallLocation", root},
        {L"UninstallString", uninstaller},
        {L"QuietUninstallString", uninstaller + L" --silent"},
        {L"InstallDate", todayText()},
        {L"SetupVersion", setupVersion},
        {L"NoModify", {}, 1, true},
        {L"NoRepair", {}, 1, true},
        {L"EstimatedSize", {}, kibibytes, true},
    };
    if (context.rolloutBucket >= 0)
        values.push_back({rolloutBucketValue, {}, static_cast<DWORD>(context.rolloutBucket), true});
    return values;
}

bool isLetterOrDigit(wchar_t c) { return IsCharAlphaNumericW(c) != FALSE; }

bool isAsciiLetterOrDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

}  // namespace

RegistryWriteGate& registryWriteGate() {
    static RegistryWriteGate gate = nullptr;
    return gate;
}

bool writeRegistryString(const wchar_t* key, const wchar_t* name, const std::wstring& text) {
    // Stored with its terminating NUL, as readers of REG_SZ expect.
    DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    return setRegistryValue(key, name, REG_SZ, text.c_str(), bytes);
}

bool writeRegistryNumber(const wchar_t* key, const wchar_t* name, DWORD number) {
    return setRegistryValue(key, name, REG_DWORD, &number, sizeof(number));
}

std::wstring readRegistryString(const wchar_t* key, const wchar_t* name) {
    // RRF_RT_REG_SZ alone: adding RRF_RT_REG_EXPAND_SZ makes Windows refuse
    // the call with ERROR_INVALID_PARAMETER, while REG_SZ alone also reads
    // (and expands) REG_EXPAND_SZ data.
    const DWORD flags = RRF_RT_REG_SZ;
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, flags, nullptr, nullptr, &bytes) !=
        ERROR_SUCCESS) {
        return {};
    }
    // The value may grow between the two calls, and an expanded text may
    // need more room than the size first reported.
    for (int attempt = 0; attempt < 4; ++attempt) {
        std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
        DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, key, name, flags, nullptr, text.data(),
                                      &size);
        if (status == ERROR_MORE_DATA) {
            bytes = size;
            continue;
        }
        if (status != ERROR_SUCCESS) return {};
        text.resize(size / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        return text;
    }
    return {};
}

void copyUninstaller(const SetupContext&, const std::wstring& root) {
    std::wstring self = modulePath();
    std::wstring target = joinPath(root, uninstallerFileName);
    // A repair started from the uninstaller itself: the file is already
    // what a copy would write, and Windows would refuse to replace it.
    if (equalsIgnoreCase(fullPath(self), fullPath(target))) return;

    // Written beside the target first, so that a failed copy never leaves
    // a truncated uninstaller in place of the working one.
    std::wstring fresh = target + L".new";
    DWORD error = 0;
    if (CopyFileW(longPath(self).c_str(), longPath(fresh).c_str(), FALSE)) {
        removeZoneIdentifier(fresh);
        if (moveReplacing(fresh, target, &error)) return;
    } else {
        error = GetLastError();
    }
    logWarn(L"Could not write %ls: %ls", target.c_str(), windowsErrorText(error).c_str());
    DeleteFileW(longPath(fresh).c_str());
}

void writeUninstallEntry(const SetupContext& context, const std::wstring& root) {
    for (const EntryValue& value : uninstallEntryValues(context, root)) {
        bool written = value.isNumber
                           ? writeRegistryNumber(uninstallKeyPath, value.name, value.number)
                           : writeRegistryString(uninstallKeyPath, value.name, value.text);
        if (!written) {
            logWarn(L"Could not write all of the uninstall entry");
            return;
        }
    }
}

void keepDrawnRolloutBucket(const SetupContext& context) {
    if (!context.rolloutBucketDrawn || context.rolloutBucket < 0) return;
    if (!writeRegistryNumber(uninstallKeyPath, rolloutBucketValue, static_cast<DWORD>(context.rolloutBucket)))
        logWarn(L"Could not keep the rollout bucket in the uninstall entry");
}

std::wstring findAttributionId(const std::wstring& fileName) {
    for (size_t at = fileName.find(L"at_"); at != std::wstring::npos;
         at = fileName.find(L"at_", at + 1)) {
        if (at > 0 && isLetterOrDigit(fileName[at - 1])) continue;
        if (fileName.size() - at < kAttributionIdChars) break;  // later ones are shorter still
        bool allAscii = true;
        for (size_t i = at + 3; i < at + kAttributionIdChars; ++i) {
            if (!isAsciiLetterOrDigit(fileName[i])) allAscii = false;
        }
        if (!allAscii) continue;
        size_t after = at + kAttributionIdChars;
        if (after < fileName.size() && isLetterOrDigit(fileName[after])) continue;
        return fileName.substr(at, kAttributionIdChars);
    }
    return {};
}

std::wstring attributionStampPath() {
    std::wstring roaming = knownFolder(FOLDERID_RoamingAppData, L"APPDATA");
    if (roaming.empty()) return {};
    return joinPath(joinPath(roaming, L"quorvelai"), L"attribution.json");
}

bool writeAttributionStampFile(const std::wstring& id, const std::wstring& path) {
    if (path.empty() || isFile(path)) return false;
    createFolderTree(parentFolder(path));
    std::string content = "{\"aid\":\"" + toUtf8(id) + "\",\"source\":\"setup\"}\n";
    // CREATE_NEW: of two setups finishing at once, only one writes.
    FileHandle file(CreateFileW(longPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    if (WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                  nullptr) &&
        written == content.size()) {
        return true;
    }
    // A short stamp would block every later one: this run made the file, so
    // it may take it away again.
    file.reset();
    DeleteFileW(longPath(path).c_str());
    return false;
}

void writeAttributionStamp(const SetupContext&) {
    std::wstring id = findAttributionId(fileNamePart(modulePath()));
    if (id.empty()) return;
    if (writeAttributionStampFile(id, attributionStampPath())) {
        logInfo(L"Wrote attribution stamp %ls", id.c_str());
    }
}

}  // namespace qv
