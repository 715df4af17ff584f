#include "shortcuts.h"

namespace qv {}  // namespace qv
