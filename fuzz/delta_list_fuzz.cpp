// Feeds arbitrary bytes to the delta list reader as a whole delta file.
// Built natively with libFuzzer; any crash, hang or sanitizer report is a
// reader fault, and so is an accepted list that breaks the reader's own
// promises (a frame outside the data, an unsafe or repeated path).
#include "setup/delta/delta_list.h"
#include "setup/unpack/safe_name.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qv::DeltaList list;
    if (!qv::readDeltaList(data, size, size, list).empty()) return 0;
    if (list.dataOffset > size) __builtin_trap();
    uint64_t dataSize = size - list.dataOffset;
    for (const qv::DeltaEntry& entry : list.entries) {
        std::wstring again;
        if (!qv::safeRelativePath(entry.path, again) || again != entry.path) __builtin_trap();
        if (entry.offset > dataSize || entry.length > dataSize - entry.offset) __builtin_trap();
    }
    return 0;
}
