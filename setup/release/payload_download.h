// The payload download step: brings the archive named by release discovery
// into the temporary folder and proves it with SHA-256 before it is used.
#pragma once

#include "setup/core/setup_context.h"

#include <cstdint>
#include <string>

namespace qv {

// "<temp>\QuorvelAI-Setup": where downloads and their ".part" files live.
std::wstring downloadFolder();

// "QuorvelAI-<version>-<first 12 hash digits>.tar.xz" in downloadFolder().
std::wstring payloadFilePath(const SetupContext& context);

// Room left free on a drive beyond what a download or an unpack fills.
inline constexpr uint64_t spareRoom = 16777216;

// Free space the download needs when `have` bytes of it are already on disk:
// the rest of the payload plus spareRoom.
uint64_t downloadSpaceNeeded(uint64_t payloadSize, uint64_t have);

// One file to bring into downloadFolder() and prove: the payload, or a
// delta in its place.
struct DownloadTarget {
    std::wstring url;
    std::string sha256;  // 64 lower-case hex digits
    uint64_t size = 0;
    std::wstring path;  // the finished file; its ".part" form while it comes
};

// Downloads target as DownloadPayload does the payload (reuse, resume, the
// space check, two hash rounds, the same errors, with target.url in their
// details) and returns target.path.
std::wstring DownloadVerified(SetupContext& context, const DownloadTarget& target);

// Returns the path of the proved payload file: an earlier proved download
// when one matches, else a fresh (or resumed) download that passed the hash
// check. Needs the release fields of context; uses context.http and
// context.progress. Throws SetupError (QV-TEMP-1, QV-TEMP-2, QV-DISK-2,
// QV-NET-5, QV-HASH-1, QV-CANCEL). A failed or cancelled download leaves
// its ".part" file for the next attempt; a hash mismatch deletes it.
std::wstring DownloadPayload(SetupContext& context);

}  // namespace qv
