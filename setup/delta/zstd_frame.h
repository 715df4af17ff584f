// Decoding one zstd frame of a delta into the bytes of a new file, with the
// installed file of the same path as its raw-content prefix (the frames
// that `zstd --patch-from` makes) or without one (a whole file).
#pragma once

#include "setup/core/progress.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv {

// Windows beyond this are refused: no published frame needs more, and the
// frame header is data from the network.
inline constexpr int maxPatchWindowLog = 31;

// Decodes frame into out, which must be exactly outSize bytes long, the
// size the frame must declare and decode to. prefix may be null (size 0).
// Reports (bytes decoded, outSize) to progress after each piece of input
// and stops when it returns false. Returns empty text on success, else
// what went wrong (also when progress stopped it). Nothing is allocated in
// proportion to the file: the output is written in place.
std::wstring decodeZstdFrame(const uint8_t* frame, size_t length, const uint8_t* prefix, size_t prefixSize,
                             uint8_t* out, uint64_t outSize, const ProgressCallback& progress);

}  // namespace qv
