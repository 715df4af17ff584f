// The rule that a version index never takes an install back to an older
// version: an index replayed from an earlier day, even genuinely signed,
// must not make the setup replace and prune the newer installed one.
#pragma once

#include "setup/core/setup_context.h"

#include <string>

namespace qv {

// Called after release discovery with the install root. When the version
// came from the index (no --version) and is older than the newest version
// installed in root, and that version is not one the index revokes, logs
// the decision and:
//   --update: returns true, nothing is to be done;
//   otherwise: discovers the installed version's own release again so that
//   the run repairs it, or returns true when that release cannot be had
//   (a plain run keeps what it has rather than failing).
// Returns false when the run goes on with the release in context. Throws
// only QV-CANCEL.
bool keepNewerInstalledVersion(SetupContext& context, const std::wstring& root);

}  // namespace qv
