// User-facing texts for network failures.
#pragma once

#include <windows.h>

#include <string>

namespace qv {

// A plain sentence for the WinHTTP failures a user can act on, followed by
// the system's own text and the code ("... (error 12029)"); other codes give
// the system text alone.
std::wstring DescribeNetworkError(DWORD code);

}  // namespace qv
