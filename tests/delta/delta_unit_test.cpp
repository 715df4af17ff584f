// The setup's side of deltas below the install run: which installed version
// a delta may start from, and the tree builder's proof of unchanged files
// and its cancel. (Patches and whole files need zstd's encoder, which only
// the publishing side has: test_delta_trees.py covers them.)
#include "setup/core/options.h"
#include "setup/core/setup_context.h"
#include "setup/delta/delta_apply.h"
#include "setup/delta/delta_install.h"
#include "setup/delta/sha256_hasher.h"
#include "tests/support/temp_folder.h"

#include "foundation/paths.h"
#include "foundation/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv::test {
namespace {

// writeFile with the file's folder made first.
void put(const std::wstring& path, const std::string& bytes) {
    makeFolders(parentFolder(path));
    writeFile(path, bytes);
}

std::string sha256(const std::string& bytes) {
    Sha256Hasher hasher;
    hasher.add(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return hasher.finish();
}

// Catches a delta started from an older installed version than the newest,
// from a folder that is no installed version, or for a repair.
TEST(ChooseDelta, OnlyTheNewestInstalledVersionIsABase) {
    struct Row {
        const char* name;
        std::vector<std::wstring> installed;  // app-<v> folders holding the program
        std::vector<std::wstring> bare;       // app-<v> folders without it
        std::wstring release;
        std::vector<std::wstring> bases;
        std::wstring chosen;  // empty: none
    };
    const Row rows[] = {
        {"newest is a base", {L"1.0.0", L"1.1.0"}, {}, L"1.2.0", {L"1.0.0", L"1.1.0"}, L"1.1.0"},
        {"only an older one is a base", {L"1.0.0", L"1.1.0"}, {}, L"1.2.0", {L"1.0.0"}, L""},
        {"newest folder lacks the program", {L"1.0.0"}, {L"1.1.0"}, L"1.2.0", {L"1.1.0", L"1.0.0"}, L"1.0.0"},
        {"repair of the newest", {L"1.2.0"}, {}, L"1.2.0", {L"1.2.0"}, L""},
        {"nothing installed", {}, {}, L"1.2.0", {L"1.0.0"}, L""},
        {"no deltas", {L"1.0.0"}, {}, L"1.1.0", {}, L""},
    };
    for (const Row& row : rows) {
        TempFolder root;
        for (const std::wstring& version : row.installed) put(root / (L"app-" + version + L"\\QuorvelAI.exe"), "MZ");
        for (const std::wstring& version : row.bare) makeFolders(root / (L"app-" + version));
        SetupOptions options;
        SetupContext context(options, nullptr, nullptr);
        context.releaseVersion = row.release;
        for (const std::wstring& base : row.bases) context.deltas.push_back({base, L"http://x/" + base, "", 1});
        std::wstring folder;
        const ReleaseDelta* delta = chooseDelta(context, root.path(), &folder);
        EXPECT_EQ(delta ? delta->baseVersion : L"", row.chosen) << row.name;
        if (delta) {
            EXPECT_TRUE(equalsIgnoreCase(folder, root / (L"app-" + row.chosen))) << row.name;
        }
    }
}

// A delta whose list names only folders and unchanged files (no frames).
std::string listOnlyDelta(const std::string& entries) {
    std::string list = "{\"baseVersion\":\"1.0.0\",\"version\":\"1.1.0\",\"entries\":[" + entries + "]}";
    std::string bytes = "QVDELTA1";
    for (int shift = 0; shift < 64; shift += 8) bytes += static_cast<char>((list.size() >> shift) & 0xff);
    return bytes + list;
}

std::string unchanged(const std::string& path, const std::string& data) {
    return "{\"path\":\"" + path + "\",\"kind\":\"file\",\"size\":" + std::to_string(data.size()) +
           ",\"sha256\":\"" + sha256(data) + "\",\"from\":\"unchanged\"}";
}

// Catches unchanged files copied without their proof, a cancel that is
// noticed only after the file (or not at all), and a delta between other
// versions than the run's.
TEST(ApplyDelta, UnchangedFilesAreProvedAndACancelStopsAtOnce) {
    const std::string small = "alpha";
    std::string big(10 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + (i >> 12));
    const std::string delta = listOnlyDelta("{\"path\":\"data\",\"kind\":\"folder\"}," + unchanged("a.txt", small) +
                                            "," + unchanged("data/big.bin", big));
    struct Row {
        const char* name;
        std::string baseSmall;
        int stopAtCall;  // the progress call that answers false; 0: none
        std::wstring version;
        bool ok, cancelled;
        const wchar_t* message;
        uint64_t files;
    };
    const Row rows[] = {
        {"copies and proves", small, 0, L"1.1.0", true, false, L"", 2},
        {"cancel inside the large file", small, 3, L"1.1.0", false, true, L"Cancelled", 1},
        {"base edited at the same size", "alphA", 0, L"1.1.0", false, false, L"changed since it was installed", 0},
        {"base grown", small + "!", 0, L"1.1.0", false, false, L"changed since it was installed", 0},
        {"other versions", small, 0, L"1.2.0", false, false, L"it leads from 1.0.0 to 1.1.0", 0},
    };
    for (const Row& row : rows) {
        TempFolder folder;
        put(folder / L"base\\a.txt", row.baseSmall);
        put(folder / L"base\\data\\big.bin", big);
        writeFile(folder / L"d.delta", delta);
        makeFolders(folder / L"out");
        int calls = 0;
        auto progress = [&](uint64_t, uint64_t total) {
            EXPECT_EQ(total, small.size() + big.size()) << row.name;
            return ++calls != row.stopAtCall;
        };
        DeltaApplyResult result =
            applyDelta({folder / L"d.delta", folder / L"base", folder / L"out", L"1.0.0", row.version}, progress);
        EXPECT_EQ(result.ok, row.ok) << row.name << ": " << toUtf8(result.message);
        EXPECT_EQ(result.cancelled, row.cancelled) << row.name;
        EXPECT_NE(result.message.find(row.message), std::wstring::npos) << row.name << ": " << toUtf8(result.message);
        EXPECT_EQ(result.files, row.files) << row.name;
        if (row.stopAtCall) {
            EXPECT_EQ(calls, row.stopAtCall) << row.name << ": went on after the cancel";
        }
        if (row.ok) {
            EXPECT_EQ(readFile(folder / L"out\\a.txt"), small);
            EXPECT_EQ(readFile(folder / L"out\\data\\big.bin"), big);
        }
    }
}

}  // namespace
}  // namespace qv::test
