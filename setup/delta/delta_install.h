// The install run's use of deltas: when the newest installed version is
// the base of a delta the release offers, the new version folder is built
// from that version's files and the delta instead of from the full
// payload. Anything that goes wrong on that road ends it with a WARN line
// and leaves the run to the full payload, as if there were no delta.
#pragma once

#include "setup/core/setup_context.h"

#include <string>

namespace qv {

// The delta of context.deltas whose base is the newest installed version
// of root (when that is not the release itself); null when none fits.
// *baseFolder gets that version's folder.
const ReleaseDelta* chooseDelta(const SetupContext& context, const std::wstring& root,
                                std::wstring* baseFolder);

// Free space the temporary folder's drive needs for a delta of which have
// bytes are there: the rest of it, plus the new tree (unpackedSize) when
// the install shares that drive, plus 16 MiB of room.
uint64_t deltaSpaceNeeded(uint64_t deltaSize, uint64_t have, uint64_t unpackedSize, bool sameDrive);

// Downloads the chosen delta (through DownloadVerified) and builds staged
// from it; every file is proved by its size and SHA-256. Returns the
// delta's path (to delete once installed) when staged holds the new tree;
// empty text when the full payload must be used, staged then removed.
// Throws only QV-CANCEL: a cancel ends the run at once.
std::wstring stageFromDelta(SetupContext& context, const std::wstring& root, const std::wstring& staged);

}  // namespace qv
