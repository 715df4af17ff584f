#include "squirrel.h"

namespace qv {}  // namespace qv
