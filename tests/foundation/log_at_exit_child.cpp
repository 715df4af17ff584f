// log-at-exit-child.exe <log path>: logs from main and then from the
// destructor of a static object that was made before the log's first use,
// the way a worker thread may still log while the program ends.
#include "foundation/log.h"

namespace {

struct LogsWhenDestroyed {
    ~LogsWhenDestroyed() { qv::logInfo(L"from a static destructor"); }
} logsWhenDestroyed;

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 3;
    qv::openLog(argv[1]);
    qv::logInfo(L"from main");
    return 0;
}
