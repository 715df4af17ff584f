#include "setup/unpack/unpack_payload.h"

#include "setup/core/options.h"
#include "setup/core/setup_context.h"
#include "setup/core/setup_error.h"

#include "tests/support/child_process.h"
#include "tests/support/tar_builder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unpack_xz_writer.h"
#include "tests/unpack/unpack_test_support.h"

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/log.h"
#include "foundation/paths.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace qv {
namespace {

using test::TarBuilder;
using test::TempFolder;

struct StepRun {
    bool threw = false;
    SetupError error;
    UnpackResult totals;
};

StepRun runStep(test::RecordingProgress& progress, const std::wstring& payload,
                const std::wstring& stage) {
    SetupOptions options;
    SetupContext context(options, &progress, nullptr);
    context.releaseVersion = L"1.2.3";
    StepRun run;
    try {
        UnpackPayload(context, payload, stage, &run.totals);
    } catch (const SetupError& error) {
        run.threw = true;
        run.error = error;
    }
    return run;
}

std::wstring writePayload(TempFolder& temp, const std::string& tar) {
    std::wstring payload = temp / L"payload.tar.xz";
    test::writeFile(payload, test::xzStored(tar));
    return payload;
}

// The step's visible behaviour on success: status text, empty detail,
// progress fractions that end at the whole, the leftover staging content
// gone.
TEST(UnpackPayload, UnpacksIntoAFreshStagingFolder) {
    TempFolder temp;
    std::wstring stage = temp / L"app-1.2.3.tmp";
    test::makeFolders(stage + L"\\old");
    test::writeFile(stage + L"\\old\\stale.txt", "from a failed run");
    test::RecordingProgress progress;
    StepRun run = runStep(progress, test::fixture(L"gnu-gnu.tar.xz"), stage);
    ASSERT_FALSE(run.threw) << testing::PrintToString(run.error.detail);
    EXPECT_FALSE(isFolder(stage + L"\\old"));
    EXPECT_EQ(test::readTree(stage), test::readTree(test::fixture(L"tree")));
    EXPECT_EQ(progress.statuses, (std::vector<std::wstring>{L"Installing QuorvelAI 1.2.3\u2026"}));
    EXPECT_EQ(progress.details, (std::vector<std::wstring>{L""}));
    ASSERT_FALSE(progress.fractions.empty());
    for (double f : progress.fractions) EXPECT_TRUE(f >= 0.0 && f <= 1.0) << f;
}

// Progress reaches the interface at most every 100 ms, however many
// pieces the driver reports.
TEST(UnpackPayload, ProgressIsThrottled) {
    std::string big(24 * 1024 * 1024, '\0');
    for (size_t i = 0; i < big.size(); i += 4096) big[i] = static_cast<char>(i / 4096);
    TempFolder temp;
    std::wstring payload = writePayload(temp, TarBuilder().file("big.bin", big).end().bytes());
    test::RecordingProgress progress;
    StepRun run = runStep(progress, payload, temp / L"stage");
    ASSERT_FALSE(run.threw) << testing::PrintToString(run.error.detail);
    for (size_t i = 1; i < progress.fractionTicks.size(); ++i)
        EXPECT_GE(progress.fractionTicks[i] - progress.fractionTicks[i - 1], 100u);
}

// A damaged payload is QV-UNPACK-2 with the driver's message as detail, and
// no half-unpacked staging folder may remain for the swap.
TEST(UnpackPayload, DamagedPayloadRemovesTheStagingFolder) {
    std::string truncated = test::readFile(test::fixture(L"gnu-pax.tar.xz"));
    truncated.resize(truncated.size() / 2);
    TempFolder temp;
    test::writeFile(temp / L"cut.tar.xz", truncated);
    std::wstring withoutEnd = writePayload(temp, TarBuilder().file("a", "1").bytes());
    struct Case {
        std::wstring payload;
        bool (*detailOk)(const std::wstring&);
    } cases[] = {
        {temp / L"cut.tar.xz",
         [](const std::wstring& d) {
             return d == L"The payload is incomplete (the xz stream ends early)." ||
                    d.rfind(L"The payload is damaged (xz error ", 0) == 0;
         }},
        {withoutEnd,
         [](const std::wstring& d) {
             return d == L"The payload is incomplete (the tar archive has no end marker).";
         }},
    };
    for (const Case& c : cases) {
        test::RecordingProgress progress;
        StepRun run = runStep(progress, c.payload, temp / L"stage");
        ASSERT_TRUE(run.threw);
        EXPECT_EQ(run.error.code, L"QV-UNPACK-2");
        EXPECT_EQ(run.error.message,
                  L"The downloaded files are damaged. Run the setup again to download them again.");
        EXPECT_TRUE(c.detailOk(run.error.detail)) << testing::PrintToString(run.error.detail);
        EXPECT_TRUE(run.error.retryable);
        EXPECT_FALSE(isFolder(temp / L"stage"));
        EXPECT_TRUE(isFile(c.payload));  // kept for "Try again"
    }
}

// A cancel removes the staging folder and raises QV-CANCEL, with the totals
// still reported.
TEST(UnpackPayload, CancelRemovesTheStagingFolder) {
    TempFolder temp;
    openLog(temp / L"setup.log");
    test::RecordingProgress progress;
    progress.cancel = true;
    StepRun run = runStep(progress, test::fixture(L"gnu-pax.tar.xz"), temp / L"stage");
    openLog(L"");
    ASSERT_TRUE(run.threw);
    EXPECT_EQ(run.error.code, L"QV-CANCEL");
    EXPECT_TRUE(run.totals.cancelled);
    EXPECT_FALSE(isFolder(temp / L"stage"));
    // The totals line is written on a cancel too.
    std::string log = test::readFile(temp / L"setup.log");
    size_t totals = log.find("] INFO  Unpacked " + std::to_string(run.totals.files) + " files, " +
                             std::to_string(run.totals.bytes) + " bytes\r\n");
    EXPECT_NE(totals, std::string::npos) << log;
}

// A file that another program holds open in the staging folder is a
// sharing violation (32), shown as a security program's block.
TEST(UnpackPayload, FileHeldOpenIsQvAv1) {
    TempFolder temp;
    std::wstring stage = temp / L"stage";
    test::makeFolders(stage + L"\\app");
    test::writeFile(stage + L"\\app\\held.dll", "old");
    FileHandle held(CreateFileW(longPath(stage + L"\\app\\held.dll").c_str(), GENERIC_READ, 0,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held.valid());
    std::wstring payload =
        writePayload(temp, TarBuilder().file("app/first.txt", "1").file("app/held.dll", "new").end().bytes());
    test::RecordingProgress progress;
    StepRun run = runStep(progress, payload, stage);
    ASSERT_TRUE(run.threw);
    EXPECT_EQ(run.error.code, L"QV-AV-1");
    EXPECT_NE(run.error.detail.find(L"(error 32)"), std::wstring::npos) << testing::PrintToString(run.error.detail);
    EXPECT_EQ(run.totals.errorCode, static_cast<uint32_t>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(run.totals.files, 1u);
    held.reset();
}

// A staging folder whose parent is a file cannot be made: QV-DIR-2, not
// retryable, naming the folder.
TEST(UnpackPayload, StagingFolderCannotBeMade) {
    TempFolder temp;
    test::writeFile(temp / L"file", "x");
    test::RecordingProgress progress;
    StepRun run = runStep(progress, test::fixture(L"gnu-pax.tar.xz"), temp / L"file\\stage");
    ASSERT_TRUE(run.threw);
    EXPECT_EQ(run.error.code, L"QV-DIR-2");
    EXPECT_EQ(run.error.message, L"The setup cannot create the install folder.");
    EXPECT_EQ(run.error.detail.rfind(temp / L"file\\stage" + L": ", 0), 0u);
    EXPECT_FALSE(run.error.retryable);
}

// A staging path left as a folder link must be unlinked, not emptied:
// removing through it would delete the files of the folder it points to.
TEST(UnpackPayload, StagingFolderLinkIsUnlinkedNotEmptied) {
    TempFolder temp;
    std::wstring target = temp / L"elsewhere";
    test::makeFolders(target);
    test::writeFile(target + L"\\keep.txt", "not ours");
    std::wstring stage = temp / L"stage";
    if (!CreateSymbolicLinkW(longPath(stage).c_str(), longPath(target).c_str(),
                             SYMBOLIC_LINK_FLAG_DIRECTORY |
                                 SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
        !(GetFileAttributesW(longPath(stage).c_str()) & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "folder links cannot be made here (error " << GetLastError() << ")";
    test::RecordingProgress progress;
    StepRun run = runStep(progress, test::fixture(L"gnu-ustar.tar.xz"), stage);
    ASSERT_FALSE(run.threw) << testing::PrintToString(run.error.detail);
    EXPECT_EQ(test::readFile(target + L"\\keep.txt"), "not ours");
    EXPECT_FALSE(isFile(target + L"\\readme.txt"));
    EXPECT_TRUE(isFile(stage + L"\\readme.txt"));
}

struct MappingCase {
    uint32_t errorCode;
    const wchar_t* code;
};

// Each Windows error leads to the message that tells the user what to do;
// a wrong row would send them after the wrong cause.
TEST(UnpackError, MapsWindowsErrors) {
    const MappingCase cases[] = {
        {0, L"QV-UNPACK-2"},   {3, L"QV-PATH-2"},   {206, L"QV-PATH-2"}, {5, L"QV-AV-1"},
        {32, L"QV-AV-1"},      {33, L"QV-AV-1"},    {225, L"QV-AV-1"},   {226, L"QV-AV-1"},
        {39, L"QV-DISK-3"},    {112, L"QV-DISK-3"}, {2, L"QV-UNPACK-1"}, {183, L"QV-UNPACK-1"},
        {1117, L"QV-UNPACK-1"},
    };
    for (const MappingCase& c : cases) {
        UnpackResult result;
        result.errorCode = c.errorCode;
        result.message = L"the detail";
        SetupError error = unpackError(result);
        EXPECT_EQ(error.code, c.code) << c.errorCode;
        EXPECT_EQ(error.detail, L"the detail");
        EXPECT_TRUE(error.retryable);
    }
    UnpackResult disk;
    disk.errorCode = 112;
    EXPECT_EQ(unpackError(disk).message, L"The disk filled up while installing. Free some space and try again.");
    disk.errorCode = 3;
    EXPECT_EQ(unpackError(disk).message,
              L"Windows refused a file path while installing. Try a shorter install folder.");
    disk.errorCode = 5;
    EXPECT_EQ(unpackError(disk).message,
              L"Windows or a security program blocked a QuorvelAI file while installing. If you "
              L"use an antivirus, allow QuorvelAI and try again.");
    disk.errorCode = 1;
    EXPECT_EQ(unpackError(disk).message, L"Installing the files failed.");
}

// --- payload-check.exe ------------------------------------------------------

DWORD runPayloadCheck(const std::wstring& arguments, const std::wstring& tempFolder) {
    std::wstring program = joinPath(test::binFolder(), L"payload-check.exe");
    test::ChildResult result =
        test::runChild(program, L"payload-check.exe " + arguments, test::withTempFolder(tempFolder));
    EXPECT_TRUE(result.started && result.finished);
    return result.exitCode;
}

// The exit codes publishers script against, and no scratch folder left in
// the temporary folder either way.
TEST(PayloadCheck, ExitCodes) {
    TempFolder temp;
    std::wstring scratch = temp / L"tmp";
    test::makeFolders(scratch);
    std::wstring good = L"\"" + test::fixture(L"gnu-pax.tar.xz") + L"\"";
    std::wstring bad = L"\"" + writePayload(temp, TarBuilder().file("a", "1").bytes()) + L"\"";
    EXPECT_EQ(runPayloadCheck(good, scratch), 0u);
    EXPECT_EQ(runPayloadCheck(bad, scratch), 1u);
    EXPECT_TRUE(test::readTree(scratch).empty());
    EXPECT_EQ(runPayloadCheck(good + L" \"" + (temp / L"out") + L"\"", scratch), 0u);
    EXPECT_EQ(test::readTree(temp / L"out"), test::readTree(test::fixture(L"tree")));
    EXPECT_EQ(runPayloadCheck(L"", scratch), 3u);
    EXPECT_EQ(runPayloadCheck(good + L" a b", scratch), 3u);
}

// Regression: a publisher's folder given as the target was emptied (the
// unpack step removes its staging folder before unpacking and after a
// failure). A folder with anything in it is refused and survives; an empty
// one is unpacked into and is still there after a failure.
TEST(PayloadCheck, NeverRemovesAFolderItDidNotMake) {
    TempFolder temp;
    std::wstring scratch = temp / L"tmp";
    test::makeFolders(scratch);
    std::wstring good = L"\"" + test::fixture(L"gnu-pax.tar.xz") + L"\"";
    std::wstring bad = L"\"" + writePayload(temp, TarBuilder().file("a", "1").bytes()) + L"\"";
    std::wstring mine = temp / L"publisher";
    test::makeFolders(mine + L"\\build");
    test::writeFile(mine + L"\\build\\notes.txt", "keep me");
    for (const std::wstring& payload : {good, bad}) {
        EXPECT_EQ(runPayloadCheck(payload + L" \"" + mine + L"\"", scratch), 1u);
        EXPECT_EQ(test::readFile(mine + L"\\build\\notes.txt"), "keep me");
    }
    test::writeFile(temp / L"a-file", "x");
    EXPECT_EQ(runPayloadCheck(good + L" \"" + (temp / L"a-file") + L"\"", scratch), 1u);
    EXPECT_EQ(test::readFile(temp / L"a-file"), "x");

    std::wstring empty = temp / L"empty";
    test::makeFolders(empty);
    EXPECT_EQ(runPayloadCheck(bad + L" \"" + empty + L"\"", scratch), 1u);
    EXPECT_TRUE(isFolder(empty));
    EXPECT_EQ(runPayloadCheck(good + L" \"" + empty + L"\"", scratch), 0u);
    EXPECT_EQ(test::readTree(empty), test::readTree(test::fixture(L"tree")));
}

}  // namespace
}  // namespace qv
