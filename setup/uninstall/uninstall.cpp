#include "uninstall.h"

#include "setup/core/setup_error.h"

namespace qv {

void runUninstall(SetupContext&, const std::wstring& root) {
    throw SetupError(L"QV-UN-1", L"QuorvelAI is not installed in " + root + L".", L"", false);
}

bool removeOwnedEntries(const std::wstring&, std::wstring&) { return false; }

}  // namespace qv
