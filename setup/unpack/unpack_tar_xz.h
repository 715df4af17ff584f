// The unpack driver: streams an XZ-compressed tar file from disk through the
// XZ decoder and the tar reader into a disk sink on a staging folder.
#pragma once

#include "unpack_result.h"

#include "setup/core/progress.h"

#include <cstdint>
#include <string>

namespace qv {

// Unpacks payloadPath into stagingFolder (which should exist). Progress is
// reported in compressed bytes consumed against the payload's size; a false
// answer stops the unpack with cancelled set. Never throws. On failure the
// result says why; files written so far stay on disk for the caller to
// remove, and every failure except an unopenable payload is logged as
// "Unpack failed after %llu files: %ls". At most 1 MiB of compressed and
// 4 MiB of decompressed data are held at once. Decompression runs on a
// thread of its own; the sink and the callback run on the calling thread.
UnpackResult UnpackTarXz(const std::wstring& payloadPath, const std::wstring& stagingFolder,
                         const ProgressCallback& progress);

}  // namespace qv
