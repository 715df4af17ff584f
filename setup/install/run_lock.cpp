#include "run_lock.h"

namespace qv {}  // namespace qv
