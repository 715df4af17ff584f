#include "shortcuts.h"

namespace qv {

void updateShortcuts(const SetupContext&, const std::wstring&, bool) {}

}  // namespace qv
