// End to end: staged releases with the real setup. Each story runs the
// setup against release variants whose version indexes hold one rollout
// state each (make_releases.sh), with the install's bucket set through the
// uninstall entry's RolloutBucket.
#include "install_run_support.h"

#include "foundation/files.h"
#include "foundation/paths.h"
#include "foundation/text.h"

namespace qv::test {
namespace {

constexpr int keepBucket = -1;  // leave the entry's bucket as it is
constexpr int noBucket = -2;    // remove the whole entry first

struct Step {
    const char* variant;
    int bucket;
    const wchar_t* extra;  // further arguments: --update, --channel ...
    const wchar_t* installed;  // the version registered and started afterwards
    const char* line;          // a log line the run must hold, or nullptr
    const wchar_t* gone = nullptr;  // a version folder that must not remain
};

struct Story {
    const char* name;
    std::vector<Step> steps;
};

void setBucket(int bucket) {
    if (bucket == noBucket) clearUserState();
    if (bucket < 0) return;
    DWORD value = static_cast<DWORD>(bucket);
    RegSetKeyValueW(HKEY_CURRENT_USER, uninstallKey, L"RolloutBucket", REG_DWORD, &value, sizeof(value));
}

using RolloutInstall = InstallRunTest;

// Catches a rollout reaching a bucket it should not (or missing one it
// should), a halt that downgrades the installs already on the rollout, a
// recall that keeps the withdrawn version (or its folder, or leaves the
// launcher starting it), a channel that is not followed, and a bucket that
// is not kept in the entry.
TEST_F(RolloutInstall, StagedReleasesReachTheirBuckets) {
    const Story stories[] = {
        {"fresh install at 0 %",
         {{"staged-0", 0, L"", L"1.1.0",
           "INFO  Version choice: 1.1.0 (stable; rollout 1.2.0 at 0 % is not for this bucket; rollout bucket 0)"}}},
        {"fresh install at 100 %",
         {{"staged-100", 99, L"", L"1.2.0", "INFO  Version choice: 1.2.0 (rollout at 100 %; rollout bucket 99)"}}},
        {"bucket 49 of 50 %", {{"staged-50", 49, L"", L"1.2.0", nullptr}}},
        {"bucket 50 of 50 %", {{"staged-50", 50, L"", L"1.1.0", nullptr}}},
        {"halt keeps the installs on the rollout",
         {{"staged-100", 10, L"", L"1.2.0", nullptr},
          {"staged-0", keepBucket, L" --update", L"1.2.0", "INFO  Nothing to update: 1.2.0 stays installed"}}},
        {"recall moves the install back",
         {{"staged", 10, L"", L"1.1.0", nullptr},
          {"staged-100", keepBucket, L"", L"1.2.0", nullptr},
          {"staged-recall", keepBucket, L" --update", L"1.1.0",
           "WARN  Version 1.2.0 was withdrawn by the publisher; installing 1.1.0", L"1.2.0"}}},
        {"channel", {{"staged-beta", 80, L" --channel beta", L"1.2.0", "(channel beta; rollout bucket 80)"}}},
        {"unknown channel",
         {{"staged-beta", 80, L" --channel nightly", L"1.1.0",
           "INFO  Channel nightly is not in the version index; following the stable rules"}}},
    };
    int index = 0;
    for (const Story& story : stories) {
        std::wstring root = temp / (L"staged-" + std::to_wstring(index++));
        clearUserState();
        for (const Step& step : story.steps) {
            std::string name = std::string(story.name) + ", " + step.variant;
            setBucket(step.bucket);
            int64_t bucket = entryNumber(L"RolloutBucket");
            SetupRun run = runSetup(temp.path(), L"--silent --no-shortcuts --no-launch --base-url " +
                                                     releaseUrl(step.variant) + L" --dir \"" + root + L"\"" +
                                                     step.extra);
            EXPECT_EQ(run.result.exitCode, 0u) << name << "\n" << run.log;
            if (step.line) EXPECT_TRUE(run.has(step.line)) << name << "\n" << run.log;
            EXPECT_EQ(entryText(L"DisplayVersion"), step.installed) << name;
            EXPECT_EQ(entryNumber(L"RolloutBucket"), bucket) << name;
            if (step.gone) EXPECT_FALSE(isFolder(root + L"\\app-" + step.gone)) << name;
        }
        EXPECT_TRUE(launcherStartsVersion(root, story.steps.back().installed)) << story.name;
    }
}

// Catches a bucket drawn again on a later run, one never kept,
// and one left behind by the uninstall.
TEST_F(RolloutInstall, TheBucketIsDrawnOnceKeptAndRemovedWithTheEntry) {
    std::wstring root = temp / L"drawn";
    std::wstring arguments = L"--silent --no-shortcuts --base-url " + releaseUrl("staged-50") + L" --dir \"" +
                             root + L"\"";
    SetupRun first = runSetup(temp.path(), arguments);
    ASSERT_EQ(first.result.exitCode, 0u) << first.log;
    int64_t bucket = entryNumber(L"RolloutBucket");
    ASSERT_TRUE(bucket >= 0 && bucket <= 99) << bucket;
    EXPECT_TRUE(first.has(toUtf8(formatText(L"INFO  Drew rollout bucket %lld\r\n", bucket)))) << first.log;
    SetupRun second = runSetup(temp.path(), arguments + L" --update --no-launch");
    EXPECT_EQ(second.result.exitCode, 0u) << second.log;
    EXPECT_FALSE(second.has("Drew rollout bucket")) << second.log;
    EXPECT_TRUE(second.has(toUtf8(formatText(L"rollout bucket %lld)", bucket)))) << second.log;
    EXPECT_EQ(entryNumber(L"RolloutBucket"), bucket);
    EXPECT_EQ(entryText(L"DisplayVersion"), bucket < 50 ? L"1.2.0" : L"1.1.0");

    SetupRun removed = runSetup(temp.path(), L"--silent --uninstall --uninstall-root \"" + root + L"\"");
    EXPECT_EQ(removed.result.exitCode, 0u) << removed.log;
    EXPECT_EQ(entryNumber(L"RolloutBucket"), -1);
}

}  // namespace
}  // namespace qv::test
