#include "uninstall.h"

namespace qv {}  // namespace qv
