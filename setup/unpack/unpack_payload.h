// The unpack step of an install: the proved payload becomes the staging
// folder's content.
#pragma once

#include "unpack_result.h"

#include "setup/core/progress.h"

#include <cstdint>
#include <string>

namespace qv {

struct SetupContext;
struct SetupError;

// Shows "Installing QuorvelAI <version>…", removes any leftover
// stagingFolder (a link is unlinked, never emptied) and creates it afresh;
// throws QV-DIR-2 when it cannot be made.
void beginStaging(const SetupContext& context, const std::wstring& stagingFolder);

// A callback for a step that builds the staging folder: passes the share
// done to progress at most every 100 ms and answers whether to go on (not
// cancelled). progress may be null.
ProgressCallback stagingProgress(Progress* progress);

// Removes any leftover stagingFolder, creates it afresh and unpacks
// payloadPath into it, reporting progress (at most every 100 ms) and
// noticing cancellation through the context's progress. Logs the totals.
// After any failure the staging folder is removed again (the payload file
// stays) and a qv::SetupError is thrown: QV-DIR-2 when the folder cannot be
// made, QV-CANCEL when the user stopped, otherwise the error chosen by the
// Windows error code of the failure (unpackError). When totals is given it
// receives the driver's result (counts and failure) before anything is
// thrown; the counts are valid after success and failure alike.
void UnpackPayload(const SetupContext& context, const std::wstring& payloadPath,
                   const std::wstring& stagingFolder, UnpackResult* totals = nullptr);

// The error UnpackPayload raises for a failed result (other than a
// cancelled one): QV-UNPACK-2 for damaged data (no Windows error), QV-PATH-2,
// QV-AV-1 or QV-DISK-3 for the path, access and disk-space errors, and
// QV-UNPACK-1 for anything else; the result's message is the detail.
SetupError unpackError(const UnpackResult& result);

}  // namespace qv
