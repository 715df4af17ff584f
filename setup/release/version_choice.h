// Which version an install gets from the version index: a channel's, the
// rollout's for the installs whose bucket falls inside its share, or the
// stable one; and what the newest installed version makes of that choice.
#pragma once

#include "release_index.h"

#include <string>
#include <vector>

namespace qv {

// The number of rollout buckets: an install's bucket is 0 to 99.
inline constexpr int rolloutBuckets = 100;

enum class ChoiceSource { Stable, Rollout, Channel };

struct VersionChoice {
    std::wstring version;  // empty: the index names no usable stable version
    std::wstring reason;   // for the log, such as "rollout at 10 %"
    ChoiceSource source = ChoiceSource::Stable;
};

// The version for an install in bucket (0 to 99) that asked for channel
// (empty for none). Never a revoked version: a stable version that is
// revoked, or missing, gives an empty version. Writes no log line.
VersionChoice chooseVersion(const ReleaseIndex& index, int bucket, const std::wstring& channel);

// What to do with the chosen version given the newest installed one
// (empty when nothing is installed).
enum class InstalledVerdict {
    Install,        // nothing newer is installed: install the choice
    KeepInstalled,  // a newer version is installed and still good: no downgrade
    Recall,         // the newer installed version is revoked: go back to the choice
};
InstalledVerdict weighInstalled(const std::vector<std::wstring>& revoked, const std::wstring& chosen,
                                const std::wstring& newestInstalled);

}  // namespace qv
