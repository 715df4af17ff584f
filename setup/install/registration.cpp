#include "registration.h"

namespace qv {

std::wstring readRegistryString(const wchar_t*, const wchar_t*) { return L""; }
void copyUninstaller(const SetupContext&, const std::wstring&) {}
void writeUninstallEntry(const SetupContext&, const std::wstring&) {}
void writeAttributionStamp(const SetupContext&) {}

}  // namespace qv
