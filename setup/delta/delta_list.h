// The delta file's layout and its list of the new tree, read defensively:
// the file came from the network, and its checksum only proves that it is
// the file the manifest names, not that the publisher's tool was sound.
//
//   8 bytes  "QVDELTA1"
//   8 bytes  length of the list, unsigned little-endian
//   the list (UTF-8 JSON), then the data: one zstd frame per built file
//
// The list: {"baseVersion", "version", "entries": [{"path", "kind":
// "folder"|"file", and for files "size", "sha256", "from": "unchanged"|
// "patch"|"whole", for patches "baseSize" and "baseSha256", for patches
// and whole files "offset" and "length" of the frame in the data}]}.
//
// Nothing here needs Windows headers, so the reader also builds natively
// for fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv {

inline constexpr uint64_t deltaHeaderSize = 16;
// A list longer than this is refused: it holds about 200 bytes per entry.
inline constexpr uint64_t maxDeltaListSize = 64ull << 20;
// A list of more entries is refused, and the publisher leaves such a delta
// out. At most ten JSON values an entry, so any list within it fits the
// JSON reader's value limit.
inline constexpr uint64_t maxDeltaEntries = 25000;
// What one frame may need while it is decoded: a patch's installed file,
// which is read whole, plus the decoder's window (the smaller of the new
// file and the frame's window). The publisher sends larger files whole.
inline constexpr uint64_t maxDecodeMemory = 1ull << 30;

enum class DeltaSource : int32_t { Folder = 0, Unchanged = 1, Patch = 2, Whole = 3 };

struct DeltaEntry {
    std::wstring path;  // safe relative path, backslashes
    DeltaSource source = DeltaSource::Folder;
    uint64_t size = 0;
    std::string sha256;  // lower-case hex
    uint64_t baseSize = 0;
    std::string baseSha256;
    uint64_t offset = 0;  // of the frame, from the start of the data
    uint64_t length = 0;
};

struct DeltaList {
    std::wstring baseVersion;
    std::wstring version;
    std::vector<DeltaEntry> entries;
    uint64_t dataOffset = 0;  // where the data starts in the file
    uint64_t totalBytes = 0;  // the sum of the files' sizes
};

// The length of the list that a delta file's first deltaHeaderSize bytes
// declare (not checked here).
uint64_t declaredListSize(const uint8_t* header);

// Reads the list of a delta file of fileSize bytes; bytes holds its first
// available bytes, at least up to the end of the list. Every path passes
// the archive's safe-name rule, appears once (ignoring case) and lies
// under no file; every frame lies inside the data. Returns empty text, or
// what is wrong.
std::wstring readDeltaList(const uint8_t* bytes, uint64_t available, uint64_t fileSize, DeltaList& list);

}  // namespace qv
