#include "setup/release/download_meter.h"
#include "setup/release/payload_download.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

constexpr uint64_t MiB = 1048576;

// Catches wrong units (MB must be MiB here), decimals, or a missing middle dot.
TEST(DownloadText, AmountAndSpeed) {
    EXPECT_EQ(megabytesText(20 * MiB), L"20.0 MB");
    EXPECT_EQ(megabytesText(MiB / 2), L"0.5 MB");
    EXPECT_EQ(megabytesText(0), L"0.0 MB");
    EXPECT_EQ(downloadDetailText(5 * MiB, 10 * MiB, 2.0 * MiB), L"5.0 MB of 10.0 MB  \u00B7  2.0 MB/s");
    EXPECT_EQ(downloadDetailText(5 * MiB, 10 * MiB, 0), L"5.0 MB of 10.0 MB");
}

// Catches a free-space rule without the 16 MiB of room or one that
// underflows for a partial file larger than the payload.
TEST(DownloadText, SpaceNeeded) {
    EXPECT_EQ(downloadSpaceNeeded(100 * MiB, 40 * MiB), 60 * MiB + 16 * MiB);
    EXPECT_EQ(downloadSpaceNeeded(100 * MiB, 0), 116 * MiB);
    EXPECT_EQ(downloadSpaceNeeded(10, 50), 16 * MiB);
}

// Catches a speed shown before the first full second of a pass.
TEST(DownloadMeterTest, NoSpeedInTheFirstSecond) {
    DownloadMeter meter(10000, 0, 10 * MiB);
    std::wstring detail;
    double fraction = 0;
    ASSERT_TRUE(meter.update(10500, 5 * MiB, 10 * MiB, detail, fraction));
    EXPECT_EQ(detail, L"5.0 MB of 10.0 MB");
    EXPECT_DOUBLE_EQ(fraction, 0.5);
}

// Catches a speed computed from the pass start instead of the partial
// file's size, and the smoothing weights.
TEST(DownloadMeterTest, SamplesAndSmooths) {
    DownloadMeter meter(10000, 3 * MiB, 10 * MiB);  // resumed at 3 MiB
    std::wstring detail;
    double fraction = 0;
    ASSERT_TRUE(meter.update(11000, 5 * MiB, 10 * MiB, detail, fraction));
    EXPECT_DOUBLE_EQ(meter.speed(), 2.0 * MiB);
    EXPECT_EQ(detail, L"5.0 MB of 10.0 MB  \u00B7  2.0 MB/s");
    ASSERT_TRUE(meter.update(12000, 6 * MiB, 10 * MiB, detail, fraction));
    EXPECT_DOUBLE_EQ(meter.speed(), 0.3 * MiB + 0.7 * 2.0 * MiB);
}

// Catches a display flooded with updates, or one that misses the last byte.
TEST(DownloadMeterTest, ShowsAtMostEveryTenthOfASecond) {
    DownloadMeter meter(10000, 0, 100);
    std::wstring detail;
    double fraction = 0;
    EXPECT_TRUE(meter.update(10000, 1, 100, detail, fraction));
    EXPECT_FALSE(meter.update(10050, 2, 100, detail, fraction));
    EXPECT_FALSE(meter.update(10099, 3, 100, detail, fraction));
    EXPECT_TRUE(meter.update(10100, 4, 100, detail, fraction));
    EXPECT_TRUE(meter.update(10101, 100, 100, detail, fraction));  // the last byte
}

// Catches a fraction made up when the server gives no size.
TEST(DownloadMeterTest, UnknownTotalUsesThePayloadSizeForText) {
    DownloadMeter meter(10000, 0, 10 * MiB);
    std::wstring detail;
    double fraction = 0;
    ASSERT_TRUE(meter.update(10000, MiB, 0, detail, fraction));
    EXPECT_LT(fraction, 0);
    EXPECT_EQ(detail, L"1.0 MB of 10.0 MB");
}

// Catches an unsigned wrap when a restarted pass reports fewer bytes.
TEST(DownloadMeterTest, RestartDoesNotWrapTheSpeed) {
    DownloadMeter meter(10000, 8 * MiB, 10 * MiB);
    std::wstring detail;
    double fraction = 0;
    meter.update(11000, MiB, 10 * MiB, detail, fraction);
    EXPECT_GE(meter.speed(), 0);
    EXPECT_LT(meter.speed(), 10.0 * MiB);
}

}  // namespace
}  // namespace qv
