// Splitting and quoting command lines by the rules of CommandLineToArgvW.
#pragma once

#include <string>
#include <vector>

namespace qv {

// The arguments of a command line; an empty line counts as the single
// program name "x". An empty list when Windows cannot split it. Part of
// qv_foundation only, not of qv_foundation_base (it loads the shell).
std::vector<std::wstring> splitCommandLine(const wchar_t* commandLine);
// The argument written so that CommandLineToArgvW gives it back unchanged.
std::wstring quoteArgument(const std::wstring& argument);

}  // namespace qv
