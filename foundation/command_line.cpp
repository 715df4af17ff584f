#include "command_line.h"

#include "handles.h"

#include <shellapi.h>

namespace qv {

std::vector<std::wstring> splitCommandLine(const wchar_t* commandLine) {
    // CommandLineToArgvW returns the program's own path for an empty line.
    const wchar_t* text = (commandLine && *commandLine) ? commandLine : L"x";
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(text, &count);
    if (!argv) return {};
    LocalMemory owner(reinterpret_cast<HLOCAL>(argv));
    std::vector<std::wstring> arguments;
    arguments.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) arguments.emplace_back(argv[i]);
    return arguments;
}

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
