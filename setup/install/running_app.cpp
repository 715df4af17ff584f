#include "running_app.h"

namespace qv {}  // namespace qv
