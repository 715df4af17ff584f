// Each install's rollout bucket: a number from 0 to 99 drawn at random once
// and kept in the uninstall entry, so that a rollout to a share of the
// installs reaches the same installs on every run. It never leaves the PC.
#pragma once

#include "setup/core/setup_context.h"

namespace qv {

// The bucket kept in the uninstall entry; -1 when there is none, or the
// value is not a REG_DWORD from 0 to 99.
int readRolloutBucket();

// A new bucket from the system's random number generator (CNG), 0 to 99,
// every value equally likely. Should the generator fail, 99: the last
// install to get any rollout. Logs the failure.
int drawRolloutBucket();

// Sets context.rolloutBucket once per context: the kept bucket, or a new
// one (and rolloutBucketDrawn, so the registration keeps it). Logs a draw.
void takeRolloutBucket(SetupContext& context);

}  // namespace qv
