#include "install_layout.h"

namespace qv {}  // namespace qv
