#include "progress.h"

#include "foundation/log.h"

namespace qv {

void SilentProgress::setStatus(const std::wstring& text) {
    logInfo(L"%ls", text.c_str());
}

}  // namespace qv
