// The install run's use of deltas: when the newest installed version is
// the base of a delta the release offers, the new version folder is built
// from that version's files and the delta instead of from the full
// payload. Anything that goes wrong on that road ends it with a WARN line
// and leaves the run to the full payload, as if there were no delta.
#pragma once

#include "setup/core/setup_context.h"
#include "setup/release/payload_download.h"

#include <string>

namespace qv {

// The delta of context.deltas whose base is the newest installed version
// of root (when that is not the release itself); null when none fits.
// *baseFolder gets that version's folder.
const ReleaseDelta* chooseDelta(const SetupContext& context, const std::wstring& root,
                                std::wstring* baseFolder);

// Free space the drive of target.path needs to download the delta and
// build from it: what is still to download (nothing when a proved delta is
// there; its ".part" counts as downloaded), plus the new tree
// (unpackedSize) when root shares that drive, plus spareRoom. UINT64_MAX
// when the sum overflows.
uint64_t deltaSpaceNeeded(const DownloadTarget& target, uint64_t unpackedSize, const std::wstring& root);

// Downloads the chosen delta (through DownloadVerified) and builds staged
// from it; every file is proved by its size and SHA-256. Returns the
// delta's path (to delete once installed) when staged holds the new tree;
// empty text when the full payload must be used, staged then removed.
// Throws QV-CANCEL when the user stops (the downloaded delta is kept for
// the next run) and QV-DIR-2 when staged cannot be made.
std::wstring stageFromDelta(SetupContext& context, const std::wstring& root, const std::wstring& staged);

}  // namespace qv
