// Facts about the running system: the OS gate, a one-line OS description
// and the texts of Windows error codes.
#pragma once

#include <windows.h>

#include <string>

namespace qv {

// False only when RtlGetVersion answers and reports a major version below 10;
// any failure to ask counts as new enough.
bool isWindows10OrNewer();
// "Windows 11 build 22631 (x64)", "Windows 10.0 build 19045 (x64)", or
// "Windows (unknown version)".
std::wstring describeOs();
// The description for the given version numbers and PROCESSOR_ARCHITECTURE_*
// value ("x64", "arm64", "x86", "other").
std::wstring osDescription(DWORD major, DWORD minor, DWORD build, WORD architecture);
// The message text of a Windows or WinHTTP error code without trailing line
// breaks; "Error %lu" when no message table knows it.
std::wstring windowsErrorText(DWORD code);
// The same with messageModule's message table (when not null) asked where
// the system has no text; the one-argument form passes winhttp.dll when the
// program has loaded it.
std::wstring windowsErrorText(DWORD code, HMODULE messageModule);

}  // namespace qv
