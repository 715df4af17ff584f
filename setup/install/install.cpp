#include "install.h"

namespace qv {}  // namespace qv
