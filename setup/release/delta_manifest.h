// The manifest's "deltas" member: which older installs may upgrade by
// downloading only what changed. Setups that do not know the member ignore
// it, so it never decides whether a release can be installed.
#pragma once

#include "json.h"

#include "setup/core/setup_context.h"

#include <string>

namespace qv {

// Replaces context.deltas with the usable items of manifest's "deltas"
// array: objects with a release "baseVersion", a "name" that is a plain
// file name, a "size" of at least 1 and a 64-digit hex "sha256". An item
// that breaks a rule is left out with a WARN line; nothing here fails the
// manifest. Urls are folderUrl + name.
void readManifestDeltas(SetupContext& context, const JsonValue& manifest,
                        const std::wstring& folderUrl);

}  // namespace qv
