#include "signature.h"

namespace qv {}  // namespace qv
