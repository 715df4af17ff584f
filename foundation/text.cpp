#include "text.h"

#include <windows.h>

#include <cwchar>
#include <vector>

namespace qv {

std::string toUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                        length, nullptr, nullptr);
    return result;
}

std::wstring fromUtf8(const std::string& bytes) {
    if (bytes.empty()) return {};
    int length =
        MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (length <= 0) return {};
    std::wstring result(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), result.data(),
                        length);
    return result;
}

std::string toHex(const void* bytes, size_t length) {
    static const char digits[] = "0123456789abcdef";
    const auto* data = static_cast<const unsigned char*>(bytes);
    std::string result;
    result.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        result.push_back(digits[data[i] >> 4]);
        result.push_back(digits[data[i] & 0x0f]);
    }
    return result;
}

namespace {
constexpr size_t maxFormattedLength = size_t(1) << 26;  // 64 Mi characters
}  // namespace

std::wstring formatTextV(const wchar_t* format, va_list args) {
    std::vector<wchar_t> buffer(256);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        int written = std::vswprintf(buffer.data(), buffer.size(), format, copy);
        va_end(copy);
        // A negative result means the room was too small; a result that fills
        // the room may have been cut as well.
        if (written >= 0 && static_cast<size_t>(written) < buffer.size() - 1)
            return std::wstring(buffer.data(), static_cast<size_t>(written));
        // A format that fails for another reason than room (an argument that
        // cannot be converted) would otherwise grow the buffer forever.
        if (buffer.size() >= maxFormattedLength) return format;
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring formatText(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring result = formatTextV(format, args);
    va_end(args);
    return result;
}

}  // namespace qv
