// The form in which manifests and delta lists carry a SHA-256.
#pragma once

#include <string>

namespace qv {

// Exactly 64 lower-case hex digits.
inline bool isHexDigest(const std::string& hash) {
    return hash.size() == 64 && hash.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace qv
