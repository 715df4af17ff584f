#include "relaunch.h"

namespace qv {}  // namespace qv
