#include "safe_name.h"

namespace qv {
namespace {

bool isRefusedCharacter(wchar_t c) {
    if (c < 0x20) return true;
    switch (c) {
        case L'"': case L'*': case L':': case L'<': case L'>': case L'?': case L'|':
            return true;
        default:
            return false;
    }
}

wchar_t upper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }

bool sameLetters(const std::wstring& text, size_t start, const wchar_t* letters) {
    for (size_t i = 0; letters[i]; ++i) {
        if (start + i >= text.size() || upper(text[start + i]) != letters[i]) return false;
    }
    return true;
}

bool isPortDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || c == L'\u00B9' || c == L'\u00B2' || c == L'\u00B3';
}

// One part: not empty, not "." or "..", no trailing dot or space (Windows
// would drop them and reach a different entry), no device name.
bool isSafePart(const std::wstring& part) {
    if (part.empty() || part == L"." || part == L"..") return false;
    wchar_t last = part.back();
    if (last == L'.' || last == L' ') return false;
    return !isDeviceName(part);
}

}  // namespace

bool isDeviceName(const std::wstring& part) {
    // Windows looks only at the text before the first dot, without the
    // spaces that end it: "nul.txt" and "Com1 .log" open devices too.
    std::wstring base = part.substr(0, part.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    if (base.size() == 3) {
        return sameLetters(base, 0, L"CON") || sameLetters(base, 0, L"PRN") ||
               sameLetters(base, 0, L"AUX") || sameLetters(base, 0, L"NUL");
    }
    if (base.size() == 4) {
        return (sameLetters(base, 0, L"COM") || sameLetters(base, 0, L"LPT")) &&
               isPortDigit(base[3]);
    }
    return (base.size() == 6 && sameLetters(base, 0, L"CONIN$")) ||
           (base.size() == 7 && sameLetters(base, 0, L"CONOUT$"));
}

bool safeRelativePath(const std::wstring& name, std::wstring& relative) {
    std::wstring path = name;
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    if (path.empty() || path.front() == L'\\') return false;
    for (wchar_t c : path) {
        if (isRefusedCharacter(c)) return false;
    }
    size_t start = 0;
    for (;;) {
        size_t end = path.find(L'\\', start);
        if (!isSafePart(path.substr(start, end == std::wstring::npos ? end : end - start)))
            return false;
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    relative = path;
    return true;
}

}  // namespace qv
