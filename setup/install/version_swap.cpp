#include "version_swap.h"

namespace qv {}  // namespace qv
