#include "version_choice.h"

#include "foundation/text.h"
#include "foundation/versions.h"

namespace qv {
namespace {

// The channel's version, or empty when the index has no such channel.
std::wstring channelVersion(const ReleaseIndex& index, const std::wstring& channel) {
    for (const auto& [name, version] : index.channels)
        if (name == channel) return version;
    return {};
}

// Why the rollout does not apply to this bucket; empty when it does.
std::wstring rolloutRefusal(const ReleaseIndex& index, int bucket) {
    if (!index.hasRollout) return L"no rollout";
    const RolloutOffer& rollout = index.rollout;
    if (isRevoked(index.revoked, rollout.version)) return L"rollout " + rollout.version + L" is revoked";
    if (compareVersions(rollout.version, index.stable) <= 0)
        return L"rollout " + rollout.version + L" is not newer than the stable version";
    if (bucket >= rollout.percent)
        return formatText(L"rollout %ls at %d %% is not for this bucket", rollout.version.c_str(),
                          rollout.percent);
    return {};
}

}  // namespace

VersionChoice chooseVersion(const ReleaseIndex& index, int bucket, const std::wstring& channel) {
    if (index.stable.empty() || isRevoked(index.revoked, index.stable)) return {};
    if (!channel.empty()) {
        std::wstring version = channelVersion(index, channel);
        if (!version.empty() && !isRevoked(index.revoked, version))
            return {version, L"channel " + channel, ChoiceSource::Channel};
    }
    std::wstring refusal = rolloutRefusal(index, bucket);
    if (refusal.empty())
        return {index.rollout.version, formatText(L"rollout at %d %%", index.rollout.percent),
                ChoiceSource::Rollout};
    return {index.stable, L"stable; " + refusal, ChoiceSource::Stable};
}

InstalledVerdict weighInstalled(const std::vector<std::wstring>& revoked, const std::wstring& chosen,
                                const std::wstring& newestInstalled) {
    if (newestInstalled.empty() || compareVersions(newestInstalled, chosen) <= 0)
        return InstalledVerdict::Install;
    return isRevoked(revoked, newestInstalled) ? InstalledVerdict::Recall : InstalledVerdict::KeepInstalled;
}

}  // namespace qv
