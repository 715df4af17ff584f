#include "release_index.h"

#include "foundation/log.h"
#include "foundation/text.h"
#include "foundation/versions.h"

namespace qv {
namespace {

// The member's text as a release version, or empty.
std::wstring releaseVersionOf(const JsonValue* value) {
    if (!value || value->type != JsonType::String) return {};
    std::wstring version = fromUtf8(value->text);
    return isReleaseVersion(version) ? version : std::wstring();
}

void readRollout(const JsonValue* member, ReleaseIndex& index) {
    if (!member) return;
    std::wstring version = member->type == JsonType::Object ? releaseVersionOf(FindMember(*member, "version"))
                                                            : std::wstring();
    int64_t percent = member->type == JsonType::Object ? GetInt(*member, "percent", -1) : -1;
    if (version.empty() || percent < 0 || percent > 100) {
        logWarn(L"Ignoring the version index's rollout: it needs a release version and a whole "
                L"percent from 0 to 100");
        return;
    }
    index.hasRollout = true;
    index.rollout = {version, static_cast<int>(percent)};
}

void readRevoked(const JsonValue* member, ReleaseIndex& index) {
    if (!member) return;
    if (member->type != JsonType::Array) {
        logWarn(L"Ignoring the version index's revoked list: not a list");
        return;
    }
    for (size_t at = 0; at < member->items.size(); ++at) {
        std::wstring version = releaseVersionOf(&member->items[at]);
        if (version.empty()) {
            logWarn(L"Ignoring item %llu of the version index's revoked list: not a release version",
                    static_cast<unsigned long long>(at + 1));
            continue;
        }
        index.revoked.push_back(version);
    }
}

void readChannels(const JsonValue* member, ReleaseIndex& index) {
    if (!member) return;
    if (member->type != JsonType::Object) {
        logWarn(L"Ignoring the version index's channels: not an object");
        return;
    }
    for (const auto& [name, value] : member->members) {
        std::wstring version = releaseVersionOf(&value);
        if (name.empty() || version.empty()) {
            logWarn(L"Ignoring channel \"%ls\" of the version index: it needs a release version",
                    fromUtf8(name).c_str());
            continue;
        }
        index.channels.emplace_back(fromUtf8(name), version);
    }
}

}  // namespace

bool isReleaseVersion(const std::wstring& version) {
    std::vector<uint32_t> parts;
    return parseVersion(version, &parts) && parts.size() >= 3;
}

ReleaseIndex readReleaseIndex(const JsonValue& document) {
    ReleaseIndex index;
    const JsonValue* windows = FindPath(document, "platforms.windows");
    if (!windows) return index;
    index.stable = releaseVersionOf(FindMember(*windows, "version"));
    readRollout(FindMember(*windows, "rollout"), index);
    readRevoked(FindMember(*windows, "revoked"), index);
    readChannels(FindMember(*windows, "channels"), index);
    return index;
}

std::wstring describeReleaseIndex(const ReleaseIndex& index) {
    std::wstring text = L"stable " + (index.stable.empty() ? std::wstring(L"none") : index.stable);
    if (index.hasRollout)
        text += formatText(L", rollout %ls at %d %%", index.rollout.version.c_str(), index.rollout.percent);
    for (size_t at = 0; at < index.revoked.size(); ++at)
        text += (at == 0 ? L", revoked " : L" ") + index.revoked[at];
    for (size_t at = 0; at < index.channels.size(); ++at)
        text += (at == 0 ? L", channels " : L", ") + index.channels[at].first + L" " + index.channels[at].second;
    return text;
}

bool isRevoked(const std::vector<std::wstring>& revoked, const std::wstring& version) {
    for (const std::wstring& withdrawn : revoked)
        if (compareVersions(withdrawn, version) == 0) return true;
    return false;
}

}  // namespace qv
