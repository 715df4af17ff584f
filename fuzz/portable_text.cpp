// Test-only stand-ins for the text functions of foundation/text.h, so that
// code which needs nothing else of Windows builds natively for fuzzing. The
// programs always use the Windows conversions in foundation/text.cpp.
// wchar_t is 32-bit here: each decoded code point is one character, and an
// invalid sequence becomes U+FFFD per bad byte, as Windows does.
#include "foundation/text.h"

#include <cwchar>
#include <vector>

namespace qv {
namespace {

// Length of the valid UTF-8 sequence at text[i] and its code point; 0 when
// the bytes there are not one.
size_t decodeOne(const std::string& text, size_t i, char32_t& point) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
        point = lead;
        return 1;
    }
    size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || i + length > text.size()) return 0;
    point = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        point = (point << 6) | (next & 0x3F);
    }
    static const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return 0;
    return length;
}

}  // namespace

std::wstring fromUtf8(const std::string& bytes) {
    std::wstring result;
    for (size_t i = 0; i < bytes.size();) {
        char32_t point = 0;
        size_t length = decodeOne(bytes, i, point);
        result.push_back(length ? static_cast<wchar_t>(point) : L'\uFFFD');
        i += length ? length : 1;
    }
    return result;
}

std::string toUtf8(const std::wstring& text) {
    std::string result;
    for (wchar_t c : text) {
        char32_t p = static_cast<char32_t>(c);
        if (p > 0x10FFFF || (p >= 0xD800 && p <= 0xDFFF)) p = 0xFFFD;
        if (p < 0x80) {
            result.push_back(static_cast<char>(p));
        } else if (p < 0x800) {
            result.push_back(static_cast<char>(0xC0 | (p >> 6)));
            result.push_back(static_cast<char>(0x80 | (p & 0x3F)));
        } else if (p < 0x10000) {
            result.push_back(static_cast<char>(0xE0 | (p >> 12)));
            result.push_back(static_cast<char>(0x80 | ((p >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (p & 0x3F)));
        } else {
            result.push_back(static_cast<char>(0xF0 | (p >> 18)));
            result.push_back(static_cast<char>(0x80 | ((p >> 12) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | ((p >> 6) & 0x3F)));
            result.push_back(static_cast<char>(0x80 | (p & 0x3F)));
        }
    }
    return result;
}

std::string toHex(const void* bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string result;
    const unsigned char* data = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < length; ++i) {
        result.push_back(digits[data[i] >> 4]);
        result.push_back(digits[data[i] & 15]);
    }
    return result;
}

std::wstring formatTextV(const wchar_t* format, va_list args) {
    // glibc's vswprintf fails both for too little room and for text it
    // cannot convert; the cap keeps the second from growing the buffer
    // without end.
    for (size_t size = 256; size <= (size_t{1} << 24); size *= 2) {
        std::vector<wchar_t> buffer(size);
        va_list copy;
        va_copy(copy, args);
        int written = std::vswprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        if (written >= 0) return std::wstring(buffer.data(), static_cast<size_t>(written));
    }
    return {};
}

std::wstring formatText(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring result = formatTextV(format, args);
    va_end(args);
    return result;
}

}  // namespace qv
