// Portable on purpose (no Windows calls), so that the natively built
// fuzzers use this very code.
#include "text.h"

#include <cstdint>

namespace qv {

std::wstring escapeControlCharacters(const std::wstring& text) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring result;
    result.reserve(text.size());
    for (wchar_t c : text) {
        // Unsigned: wchar_t is signed where the fuzzers are built.
        auto unit = static_cast<uint32_t>(c);
        if (unit >= 0x20) {
            result.push_back(c);
            continue;
        }
        result += L"\\x";
        result.push_back(digits[unit >> 4]);
        result.push_back(digits[unit & 0xF]);
    }
    return result;
}

}  // namespace qv
