#include "command_line.h"

namespace qv {

std::wstring quoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
        return argument;

    std::wstring result = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            result.push_back(c);
            continue;
        }
        if (c == L'"') {
            // n backslashes before a quote become 2n + 1.
            result.append(backslashes + 1, L'\\');
        }
        backslashes = 0;
        result.push_back(c);
    }
    // Backslashes before the closing quote are doubled.
    result.append(backslashes, L'\\');
    result.push_back(L'"');
    return result;
}

}  // namespace qv
