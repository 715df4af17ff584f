// The per-user uninstall entry's key and the values read outside the
// registration code.
#pragma once

namespace qv {

// Under HKEY_CURRENT_USER.
inline constexpr const wchar_t* uninstallKeyPath =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuorvelAI";
// REG_DWORD 0 to 99: the install's rollout bucket, drawn once and kept.
inline constexpr const wchar_t* rolloutBucketValue = L"RolloutBucket";

}  // namespace qv
