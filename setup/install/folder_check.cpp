#include "folder_check.h"

namespace qv {}  // namespace qv
