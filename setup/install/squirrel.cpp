#include "squirrel.h"

namespace qv {

void removeSquirrelLeftovers(const SetupContext&, const std::wstring&) {}

}  // namespace qv
