// Feeds arbitrary bytes to the JSON reader and its lookups. Built natively
// with libFuzzer; any crash, hang or sanitizer report is a reader fault.
#include "setup/release/json.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string document(reinterpret_cast<const char*>(data), size);
    qv::JsonValue value;
    std::string error;
    bool ok = qv::ParseJson(document, value, &error);
    // A failure always says why; a success never does.
    if (ok != error.empty()) __builtin_trap();
    if (!ok) return 0;
    qv::GetInt(value, "schema", 0);
    qv::GetString(value, "version", "");
    qv::FindPath(value, "platforms.windows.version");
    for (const auto& member : value.members) {
        qv::GetInt(value, member.first, -1);
        qv::FindPath(value, member.first + "." + member.first);
    }
    return 0;
}
