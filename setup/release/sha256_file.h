// SHA-256 of a file through the platform's CNG provider.
#pragma once

#include "http_client.h"

#include <windows.h>

#include <string>

namespace qv {

// 64 lower-case hex digits, or empty text when the file cannot be read, the
// provider fails or progress returns false. Reads 1 MiB pieces and calls
// progress (when given) with (bytes hashed, file size) after each. A failed
// open or read stores its Windows error in *errorCode when given.
std::string HashFileSha256(const std::wstring& path, const ProgressCallback& progress = nullptr,
                           DWORD* errorCode = nullptr);

}  // namespace qv
