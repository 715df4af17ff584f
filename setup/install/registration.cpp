#include "registration.h"

namespace qv {}  // namespace qv
