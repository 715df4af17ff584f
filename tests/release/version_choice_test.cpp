#include "setup/release/json.h"
#include "setup/release/release_index.h"
#include "setup/release/version_choice.h"
#include "tests/install/logged_test.h"

#include "foundation/text.h"

namespace qv::test {
namespace {

using Verdict = InstalledVerdict;
constexpr Verdict I = Verdict::Install, K = Verdict::KeepInstalled, R = Verdict::Recall;

struct Row {
    const char* name;
    const char* windows;  // the members of platforms.windows
    int bucket;
    const wchar_t* channel;
    const wchar_t* installed;
    const wchar_t* chosen;  // empty: no usable stable version (QV-NET-2)
    Verdict verdict;
    size_t warnings;  // malformed members are left out with one WARN each
};

// "version":"1.2.0" and a rollout of 1.3.0 at percent P.
#define STABLE "\"version\":\"1.2.0\""
#define ROLLOUT(P) STABLE ",\"rollout\":{\"version\":\"1.3.0\",\"percent\":" #P "}"

const Row rows[] = {
    {"stable only", STABLE, 50, L"", L"", L"1.2.0", I, 0},
    {"bucket = percent - 1 gets it", ROLLOUT(10), 9, L"", L"", L"1.3.0", I, 0},
    {"bucket = percent does not", ROLLOUT(10), 10, L"", L"", L"1.2.0", I, 0},
    {"0 % halts, bucket 0", ROLLOUT(0), 0, L"", L"", L"1.2.0", I, 0},
    {"100 %, bucket 99", ROLLOUT(100), 99, L"", L"", L"1.3.0", I, 0},
    {"halted, install on the rollout stays", ROLLOUT(0), 0, L"", L"1.3.0", L"1.2.0", K, 0},
    {"halted and revoked: recalled", ROLLOUT(0) ",\"revoked\":[\"1.3.0\"]", 0, L"", L"1.3.0", L"1.2.0", R, 0},
    {"revoked rollout at 100 %", ROLLOUT(100) ",\"revoked\":[\"1.3.0\"]", 0, L"", L"", L"1.2.0", I, 0},
    {"rollout older than stable", STABLE ",\"rollout\":{\"version\":\"1.1.0\",\"percent\":100}", 0, L"", L"",
     L"1.2.0", I, 0},
    {"rollout equal to stable", STABLE ",\"rollout\":{\"version\":\"1.2.0\",\"percent\":100}", 0, L"", L"",
     L"1.2.0", I, 0},
    {"channel", ROLLOUT(100) ",\"channels\":{\"beta\":\"1.4.0\"}", 0, L"beta", L"", L"1.4.0", I, 0},
    {"channel older than stable", STABLE ",\"channels\":{\"lts\":\"1.1.0\"}", 0, L"lts", L"", L"1.1.0", I, 0},
    {"unknown channel follows the rollout", ROLLOUT(10) ",\"channels\":{\"beta\":\"1.4.0\"}", 5, L"nightly",
     L"", L"1.3.0", I, 0},
    {"channel names a revoked version", STABLE ",\"channels\":{\"beta\":\"1.4.0\"},\"revoked\":[\"1.4.0\"]", 0,
     L"beta", L"", L"1.2.0", I, 0},
    {"channel name compared exactly", STABLE ",\"channels\":{\"beta\":\"1.4.0\"}", 0, L"Beta", L"", L"1.2.0", I,
     0},
    {"revoked stable", STABLE ",\"revoked\":[\"1.2.0\"]", 0, L"", L"", L"", I, 0},
    {"revoked stable, written longer", STABLE ",\"revoked\":[\"1.2.0.0\"]", 0, L"", L"", L"", I, 0},
    {"no stable", "\"rollout\":{\"version\":\"1.3.0\",\"percent\":100}", 0, L"", L"", L"", I, 0},
    {"stable of two parts", "\"version\":\"1.2\"", 0, L"", L"", L"", I, 0},
    {"percent 101", ROLLOUT(101), 0, L"", L"", L"1.2.0", I, 1},
    {"percent -1", ROLLOUT(-1), 0, L"", L"", L"1.2.0", I, 1},
    {"percent as text", ROLLOUT("10"), 0, L"", L"", L"1.2.0", I, 1},
    {"percent with a fraction", ROLLOUT(10.0), 0, L"", L"", L"1.2.0", I, 1},
    {"rollout version of two parts", STABLE ",\"rollout\":{\"version\":\"1.3\",\"percent\":100}", 0, L"", L"",
     L"1.2.0", I, 1},
    {"rollout not an object", STABLE ",\"rollout\":[\"1.3.0\",100]", 0, L"", L"", L"1.2.0", I, 1},
    {"revoked not a list never blocks stable", STABLE ",\"revoked\":\"1.2.0\"", 0, L"", L"", L"1.2.0", I, 1},
    {"a bad item of revoked leaves the rest", ROLLOUT(100) ",\"revoked\":[7,\"1.3.0\"]", 0, L"", L"", L"1.2.0",
     I, 1},
    {"channels not an object", STABLE ",\"channels\":[\"beta\"]", 0, L"beta", L"", L"1.2.0", I, 1},
    {"channel without a version", STABLE ",\"channels\":{\"beta\":5,\"rc\":\"1.5.0\"}", 0, L"rc", L"",
     L"1.5.0", I, 1},
    {"installed older: upgrade", STABLE, 0, L"", L"1.1.0", L"1.2.0", I, 0},
    {"installed same: repair", STABLE, 0, L"", L"1.2.0", L"1.2.0", I, 0},
    {"installed newer (left a channel): kept", STABLE, 0, L"", L"1.4.0", L"1.2.0", K, 0},
    {"installed newer and revoked: recalled", STABLE ",\"revoked\":[\"1.2.5\"]", 0, L"", L"1.2.5", L"1.2.0", R,
     0},
    {"installed older and revoked: upgrade", STABLE ",\"revoked\":[\"1.1.0\"]", 0, L"", L"1.1.0", L"1.2.0", I,
     0},
    {"recall to the channel", STABLE ",\"channels\":{\"beta\":\"1.4.0\"},\"revoked\":[\"1.5.0\"]", 0, L"beta",
     L"1.5.0", L"1.4.0", R, 0},
};

class VersionChoiceTable : public LoggedTest {};

// Catches a wrong comparison at the share's edge, a halt or revocation
// that is ignored, a rollout that is not newer, a channel that does not
// win or wins when unknown, a malformed member that blocks stable or is
// not reported, and a newer install that is downgraded unless revoked.
TEST_F(VersionChoiceTable, ChoosesByChannelRolloutStableAndInstalled) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        JsonValue document;
        ASSERT_TRUE(ParseJson(std::string("{\"platforms\":{\"windows\":{") + row.windows + "}}}", document));
        size_t warningsBefore = logLines("WARN");
        ReleaseIndex index = readReleaseIndex(document);
        EXPECT_EQ(logLines("WARN") - warningsBefore, row.warnings) << logText();
        VersionChoice choice = chooseVersion(index, row.bucket, row.channel);
        EXPECT_EQ(choice.version, row.chosen) << toUtf8(choice.reason);
        if (choice.version.empty()) continue;
        EXPECT_EQ(weighInstalled(index.revoked, choice.version, row.installed), row.verdict);
    }
}

}  // namespace
}  // namespace qv::test
