// Kept apart from the rest of paths.cpp: the shell and COM calls here would
// make every program that links the path rules import shell32 and ole32.
#include "paths.h"

#include <objbase.h>

namespace qv {

std::wstring knownFolder(REFKNOWNFOLDERID id, const wchar_t* variable) {
    PWSTR path = nullptr;
    HRESULT hr = SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path);
    std::wstring result = (SUCCEEDED(hr) && path) ? std::wstring(path) : std::wstring();
    CoTaskMemFree(path);
    if (result.empty() && variable) return environmentVariable(variable);
    return result;
}

}  // namespace qv
