#include "setup_window.h"

namespace qv {}  // namespace qv
