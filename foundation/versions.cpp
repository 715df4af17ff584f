#include "versions.h"

namespace qv {

namespace {
constexpr uint32_t maxPartValue = 1000000;
constexpr size_t maxParts = 4;
}  // namespace

bool parseVersion(const std::wstring& text, std::vector<uint32_t>* parts) {
    if (text.empty()) return false;
    std::vector<uint32_t> values;
    size_t at = 0;
    for (;;) {
        if (at >= text.size() || text[at] < L'0' || text[at] > L'9') return false;
        uint32_t value = 0;
        while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') {
            value = value * 10 + static_cast<uint32_t>(text[at] - L'0');
            if (value > maxPartValue) return false;
            ++at;
        }
        values.push_back(value);
        if (values.size() > maxParts) return false;
        if (at == text.size()) break;
        if (text[at] != L'.' || at + 1 >= text.size()) return false;
        ++at;
    }
    if (parts) *parts = std::move(values);
    return true;
}

int compareVersions(const std::wstring& a, const std::wstring& b) {
    std::vector<uint32_t> left, right;
    bool leftValid = parseVersion(a, &left);
    bool rightValid = parseVersion(b, &right);
    if (leftValid != rightValid) return leftValid ? 1 : -1;
    if (!leftValid) return 0;
    size_t count = left.size() > right.size() ? left.size() : right.size();
    for (size_t i = 0; i < count; ++i) {
        uint32_t x = i < left.size() ? left[i] : 0;
        uint32_t y = i < right.size() ? right[i] : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

}  // namespace qv
