// The version index's choice of versions: the stable version and the
// optional rollout, withdrawn versions and channels beside it under
// platforms.windows.
#pragma once

#include "json.h"

#include <string>
#include <utility>
#include <vector>

namespace qv {

// A newer version offered to the installs whose bucket is below percent.
struct RolloutOffer {
    std::wstring version;
    int percent = 0;  // 0 to 100; 0 halts the rollout
};

struct ReleaseIndex {
    std::wstring stable;  // empty when missing or not a release version
    bool hasRollout = false;
    RolloutOffer rollout;
    std::vector<std::wstring> revoked;
    // Channel name and its version, in the index's order.
    std::vector<std::pair<std::wstring, std::wstring>> channels;
};

// Releases are numbered major.minor.patch at least; a shorter number would
// compare equal to its longer form (1.2 = 1.2.0) and name two folders.
bool isReleaseVersion(const std::wstring& version);

// Reads platforms.windows of a parsed index. A malformed optional member
// (or a malformed item of one) is left out with a WARN line; it never
// touches stable. Nothing here throws.
ReleaseIndex readReleaseIndex(const JsonValue& document);

// One line for the log and release-check: "stable 1.2.0, rollout 1.3.0 at
// 10 %, revoked 1.1.0, channels beta 1.4.0"; absent members are left out.
std::wstring describeReleaseIndex(const ReleaseIndex& index);

// Whether version is in the withdrawn list (versions compared by value).
bool isRevoked(const std::vector<std::wstring>& revoked, const std::wstring& version);

}  // namespace qv
