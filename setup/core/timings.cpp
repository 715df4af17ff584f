#include "timings.h"

namespace qv {

Timings& timings() {
    static Timings value;
    return value;
}

}  // namespace qv
