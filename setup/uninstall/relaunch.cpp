#include "relaunch.h"

namespace qv {

bool runsAsTempCopy() { return true; }
bool relaunchFromTemp(const SetupOptions&, const std::wstring&) { return false; }
void removeTempCopy() {}

}  // namespace qv
