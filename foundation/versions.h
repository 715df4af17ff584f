// Version strings: one to four dot-separated decimal parts, each at most
// 1,000,000, such as "1.2.3".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

// True when text is a valid version string; fills parts when given.
bool parseVersion(const std::wstring& text, std::vector<uint32_t>* parts = nullptr);
// -1, 0 or 1 as a is older than, equal to or newer than b. A valid version is
// newer than an invalid one; two invalid ones are equal; missing parts are 0.
int compareVersions(const std::wstring& a, const std::wstring& b);

}  // namespace qv
