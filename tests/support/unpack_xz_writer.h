// A minimal XZ writer for tests: one stream, one block, LZMA2 "stored"
// chunks (no compression). Enough to wrap builder-made tar archives so that
// the real decoder and the unpack driver read them.
#pragma once

#include <string>

namespace qv::test {

enum class XzCheck { None, Crc32 };

// data as a complete .xz stream.
std::string xzStored(const std::string& data, XzCheck check = XzCheck::Crc32);

}  // namespace qv::test
