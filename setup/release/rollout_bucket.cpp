#include "rollout_bucket.h"

#include "version_choice.h"

#include "foundation/log.h"
#include "setup/core/uninstall_key.h"

#include <windows.h>
#include <bcrypt.h>

namespace qv {

int readRolloutBucket() {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, uninstallKeyPath, rolloutBucketValue, RRF_RT_REG_DWORD, nullptr,
                     &value, &size) != ERROR_SUCCESS)
        return -1;
    return value < static_cast<DWORD>(rolloutBuckets) ? static_cast<int>(value) : -1;
}

int drawRolloutBucket() {
    // The largest multiple of 100 below 2^32: draws at or above it are
    // drawn again, or the low buckets would come up slightly more often.
    const ULONG limit = 0xFFFFFFFFu - 0xFFFFFFFFu % rolloutBuckets;
    for (int attempt = 0; attempt < 16; ++attempt) {
        ULONG value = 0;
        NTSTATUS status = BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof(value),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (!BCRYPT_SUCCESS(status)) {
            logWarn(L"Could not draw a rollout bucket (0x%08lx); using the last one",
                    static_cast<unsigned long>(status));
            return rolloutBuckets - 1;
        }
        if (value < limit) return static_cast<int>(value % rolloutBuckets);
    }
    return rolloutBuckets - 1;
}

void takeRolloutBucket(SetupContext& context) {
    if (context.rolloutBucket >= 0) return;
    context.rolloutBucket = readRolloutBucket();
    if (context.rolloutBucket >= 0) return;
    context.rolloutBucket = drawRolloutBucket();
    context.rolloutBucketDrawn = true;
    logInfo(L"Drew rollout bucket %d", context.rolloutBucket);
}

}  // namespace qv
