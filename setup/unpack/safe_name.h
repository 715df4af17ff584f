// The rule that decides whether an archive entry's name may become a path
// below the staging folder. Nothing a name says can lead outside that
// folder or to anything Windows would treat as other than a plain file or
// folder of that name.
#pragma once

#include <string>

namespace qv {

// Judges a name already converted from UTF-8. On true, relative holds the
// path to use below the staging folder (backslashes, no trailing
// separator). False for names that are empty, absolute, drive- or
// UNC-based, hold characters Windows refuses or reads as stream markers,
// contain empty, "." or ".." parts, parts ending in a dot or a space, or
// parts that Windows reads as a device (CON, NUL, COM1, "aux.txt", ...).
bool safeRelativePath(const std::wstring& name, std::wstring& relative);

// True when the part (one path component) names a DOS device: CON, PRN,
// AUX, NUL, CONIN$, CONOUT$, COM0-9 and LPT0-9 (also with the superscript
// digits 1-3), in any case, alone or followed by an extension.
bool isDeviceName(const std::wstring& part);

}  // namespace qv
