#include "delta_manifest.h"

#include "hex_digest.h"

#include "foundation/log.h"
#include "foundation/text.h"
#include "foundation/versions.h"

#include <vector>

namespace qv {
namespace {

std::string lowerHex(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool isPlainName(const std::string& name) {
    return !name.empty() && name.find_first_of("/\\?#:") == std::string::npos;
}

bool isRelease(const std::wstring& version) {
    std::vector<uint32_t> parts;
    return parseVersion(version, &parts) && parts.size() >= 3;
}

// The delta one item describes, or false when the item breaks a rule.
bool readDelta(const JsonValue& item, const std::wstring& folderUrl, ReleaseDelta& delta) {
    if (item.type != JsonType::Object) return false;
    delta.baseVersion = fromUtf8(GetString(item, "baseVersion", ""));
    std::string name = GetString(item, "name", "");
    delta.sha256 = lowerHex(GetString(item, "sha256", ""));
    int64_t size = GetInt(item, "size", -1);
    if (!isRelease(delta.baseVersion) || !isPlainName(name) || !isHexDigest(delta.sha256) || size < 1)
        return false;
    delta.url = folderUrl + fromUtf8(name);
    delta.size = static_cast<uint64_t>(size);
    return true;
}

}  // namespace

void readManifestDeltas(SetupContext& context, const JsonValue& manifest,
                        const std::wstring& folderUrl) {
    context.deltas.clear();
    const JsonValue* deltas = FindMember(manifest, "deltas");
    if (!deltas) return;
    if (deltas->type != JsonType::Array) {
        logWarn(L"Ignoring the manifest's deltas: not a list");
        return;
    }
    for (size_t index = 0; index < deltas->items.size(); ++index) {
        ReleaseDelta delta;
        if (!readDelta(deltas->items[index], folderUrl, delta)) {
            logWarn(L"Ignoring delta %llu of the manifest: a member is missing or wrong",
                    static_cast<unsigned long long>(index + 1));
            continue;
        }
        logInfo(L"Manifest: delta from %ls, %ls, %llu bytes", delta.baseVersion.c_str(),
                delta.url.c_str(), static_cast<unsigned long long>(delta.size));
        context.deltas.push_back(std::move(delta));
    }
}

}  // namespace qv
