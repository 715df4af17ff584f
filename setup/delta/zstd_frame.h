// Decoding one zstd frame of a delta into the bytes of a new file, with the
// installed file of the same path as its raw-content prefix (the frames
// that `zstd --patch-from` makes) or without one (a whole file). The frame
// is read, and the file handed on, in pieces: neither is held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace qv {

// Windows beyond this are refused: no published frame needs more, and the
// frame header is data from the network.
inline constexpr int maxPatchWindowLog = 31;
// Bytes of a frame that always hold its whole header.
inline constexpr size_t zstdHeaderBytes = 18;

// Checks the header at the start of a frame of frameLength bytes (head
// holds its first min(frameLength, zstdHeaderBytes) bytes): one data frame
// that declares exactly outSize bytes, with a window the decoder accepts.
// Returns empty text and sets *windowSize, or what is wrong.
std::wstring checkZstdHeader(const uint8_t* head, size_t headLength, uint64_t outSize, uint64_t* windowSize);

// Fills bytes with the next length bytes of the frame; false stops the
// decoding (the caller keeps the reason).
using FrameSource = std::function<bool(uint8_t* bytes, size_t length)>;
// Takes the next decoded bytes; false stops the decoding (the caller keeps
// the reason: a failed write, a cancel).
using FrameSink = std::function<bool(const uint8_t* bytes, size_t length)>;

struct FrameOutcome {
    bool stopped = false;  // source or sink answered false
    std::wstring problem;  // what is wrong with the frame; empty otherwise
    bool ok() const { return !stopped && problem.empty(); }
};

// Decodes a frame of frameLength bytes whose header passed checkZstdHeader
// into exactly outSize bytes. prefix may be null (size 0); it must stay
// valid throughout. Memory: the decoder's window, at most the smaller of
// outSize and the frame's window, plus two pieces of 1 MiB.
FrameOutcome decodeZstdFrame(uint64_t frameLength, const FrameSource& source, const uint8_t* prefix,
                             size_t prefixSize, uint64_t outSize, const FrameSink& sink);

}  // namespace qv
