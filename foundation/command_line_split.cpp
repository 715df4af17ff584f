// Kept apart from the quoting in command_line.cpp: splitting goes through
// shell32, which the launcher must not import.
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

}  // namespace qv
