// Text conversions and printf-style formatting. Wide strings are UTF-16;
// narrow strings carry UTF-8 only.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace qv {

// UTF-16 to UTF-8; invalid sequences are replaced as Windows does.
std::string toUtf8(const std::wstring& text);
// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::wstring fromUtf8(const std::string& bytes);
// Two lower-case hex digits per byte, high nibble first.
std::string toHex(const void* bytes, size_t length);
inline std::string toHex(const std::string& bytes) { return toHex(bytes.data(), bytes.size()); }

// text with every character below U+0020 written as "\x" and two lower-case
// hex digits ("\x0a"), for names from outside that go into a log line or a
// message: an embedded NUL would hide the rest, CR or LF would start a line.
std::wstring escapeControlCharacters(const std::wstring& text);

// printf-style formatting of a wide format ("%ls" wide, "%hs" narrow) into
// a string of any length.
std::wstring formatText(const wchar_t* format, ...);
std::wstring formatTextV(const wchar_t* format, va_list args);

}  // namespace qv
