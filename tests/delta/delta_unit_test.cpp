// The setup's side of deltas: which installed version a delta may start
// from, the space it needs, the tree builder's proof of unchanged files,
// its read and write errors and its cancel, and what a cancel or a failure
// leaves of the downloaded delta. (Patches and whole files need zstd's
// encoder, which only the publishing side has: test_delta_trees.py covers
// them.)
#include "setup/core/options.h"
#include "setup/core/setup_context.h"
#include "setup/core/setup_error.h"
#include "setup/delta/delta_apply.h"
#include "setup/install/delta_install.h"
#include "setup/release/payload_download.h"
#include "setup/release/sha256_hasher.h"
#include "tests/support/release_progress.h"
#include "tests/support/temp_folder.h"

#include "foundation/files.h"
#include "foundation/handles.h"
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

// The file calls a row fails: reads or writes after the first so many.
int readsLeft = -1;
int writesLeft = -1;
BOOL WINAPI countedRead(HANDLE file, LPVOID bytes, DWORD length, LPDWORD read, LPOVERLAPPED at) {
    if (readsLeft >= 0 && readsLeft-- == 0) {
        SetLastError(ERROR_CRC);
        return FALSE;
    }
    return ReadFile(file, bytes, length, read, at);
}
BOOL WINAPI countedWrite(HANDLE file, LPCVOID bytes, DWORD length, LPDWORD written, LPOVERLAPPED at) {
    if (writesLeft >= 0 && writesLeft-- == 0) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return WriteFile(file, bytes, length, written, at);
}

// Catches unchanged files copied without their proof, a cancel that is
// noticed only after the file (or not at all), a delta between other
// versions than the run's or short of the release, a held file blamed on
// the user, and a read or write error that escapes as anything but a
// message.
TEST(ApplyDelta, UnchangedFilesAreProvedAndACancelStopsAtOnce) {
    const std::string small = "alpha";
    std::string big(10 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + (i >> 12));
    const std::string delta = listOnlyDelta("{\"path\":\"data\",\"kind\":\"folder\"}," + unchanged("a.txt", small) +
                                            "," + unchanged("data/big.bin", big));
    const uint64_t total = small.size() + big.size();
    struct Row {
        const char* name;
        std::string baseSmall;
        int stopAtCall;  // the progress call that answers false; 0: none
        std::wstring version;
        bool ok, cancelled;
        const wchar_t* message;
        uint64_t files;
        uint64_t unpackedSize = 0;  // 0: the list's own total
        bool holdBig = false;       // another program holds big.bin, not sharing it
        int readsBeforeError = -1;  // -1: no read fails
        int writesBeforeError = -1;
        std::string list = {};      // empty: the list above
    };
    const Row rows[] = {
        {"copies and proves", small, 0, L"1.1.0", true, false, L"", 2},
        {"cancel inside the large file", small, 3, L"1.1.0", false, true, L"Cancelled", 1},
        {"base edited at the same size", "alphA", 0, L"1.1.0", false, false, L"changed since it was installed", 0},
        {"base grown", small + "!", 0, L"1.1.0", false, false, L"changed since it was installed", 0},
        {"other versions", small, 0, L"1.2.0", false, false, L"it leads from 1.0.0 to 1.1.0", 0},
        {"base held by another program", small, 0, L"1.1.0", false, false,
         L"big.bin could not be read (error 32)", 1, 0, true},
        {"read error inside the large file", small, 0, L"1.1.0", false, false,
         L"big.bin could not be read (error 23)", 1, 0, false, 5},
        {"read error in the list", small, 0, L"1.1.0", false, false, L"d.delta could not be read (error 23)", 0, 0,
         false, 1},
        {"write error", small, 0, L"1.1.0", false, false, L"big.bin: ", 1, 0, false, -1, 1},
        {"list short of the release", small, 0, L"1.1.0", false, false,
         L"its files add up to 10485765 bytes, the release's to 10485766", 0, total + 1},
        {"empty list", small, 0, L"1.1.0", false, false, L"its files add up to 0 bytes", 0, 0, false, -1, -1,
         listOnlyDelta("")},
    };
    for (const Row& row : rows) {
        TempFolder folder;
        put(folder / L"base\\a.txt", row.baseSmall);
        put(folder / L"base\\data\\big.bin", big);
        writeFile(folder / L"d.delta", row.list.empty() ? delta : row.list);
        makeFolders(folder / L"out");
        FileHandle held;
        if (row.holdBig)
            held.reset(CreateFileW(longPath(folder / L"base\\data\\big.bin").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                   nullptr, OPEN_EXISTING, 0, nullptr));
        readsLeft = row.readsBeforeError;
        writesLeft = row.writesBeforeError;
        DeltaFileCalls calls;
        calls.readFile = countedRead;
        calls.sink.writeFile = countedWrite;
        int progressCalls = 0;
        auto progress = [&](uint64_t, uint64_t) { return ++progressCalls != row.stopAtCall; };
        DeltaInputs inputs{folder / L"d.delta", folder / L"base", folder / L"out", L"1.0.0", row.version,
                           row.unpackedSize ? row.unpackedSize : total};
        DeltaApplyResult result = applyDelta(inputs, progress, calls);
        readsLeft = writesLeft = -1;
        EXPECT_EQ(result.ok, row.ok) << row.name << ": " << toUtf8(result.message);
        EXPECT_EQ(result.cancelled, row.cancelled) << row.name;
        EXPECT_NE(result.message.find(row.message), std::wstring::npos) << row.name << ": " << toUtf8(result.message);
        EXPECT_EQ(result.files, row.files) << row.name;
        if (row.stopAtCall) {
            EXPECT_EQ(progressCalls, row.stopAtCall) << row.name << ": went on after the cancel";
        }
        if (row.ok) {
            EXPECT_EQ(readFile(folder / L"out\\a.txt"), small);
            EXPECT_EQ(readFile(folder / L"out\\data\\big.bin"), big);
        }
    }
}

// Catches a space check that counts a delta already downloaded (or a
// ".part" beyond its size), misses the tree on the install's drive or
// counts it on another, loses the drive of a long install path, or wraps
// around.
TEST(DeltaSpaceNeeded, CountsWhatIsMissingAndTheTreeOnTheSameDrive) {
    TempFolder folder;
    const uint64_t deltaSize = 1000, tree = 50000;
    std::wstring longRoot = folder / std::wstring(120, L'r') + L"\\" + std::wstring(120, L's') + L"\\" +
                            std::wstring(120, L't');
    makeFolders(longRoot);
    struct Row {
        const char* name;
        std::string finished;  // bytes of the proved delta; empty: none
        std::string part;      // bytes of its ".part"
        std::wstring root;
        uint64_t unpacked;
        uint64_t need;
    };
    const Row rows[] = {
        {"nothing yet, same drive", "", "", folder / L"root", tree, deltaSize + tree + spareRoom},
        {"other drive", "", "", L"Z:\\tmp", tree, deltaSize + spareRoom},
        {"part of it", "", std::string(400, 'p'), folder / L"root", tree, 600 + tree + spareRoom},
        {"part larger than the delta", "", std::string(1500, 'p'), folder / L"root", tree, tree + spareRoom},
        {"proved delta left by a killed run", std::string(deltaSize, 'd'), "", folder / L"root", tree,
         tree + spareRoom},
        {"long install path", "", "", longRoot, tree, deltaSize + tree + spareRoom},
        {"overflow", "", "", folder / L"root", UINT64_MAX - 5, UINT64_MAX},
    };
    for (const Row& row : rows) {
        DownloadTarget target{L"http://x/d", std::string(64, 'a'), deltaSize, folder / L"d.delta"};
        DeleteFileW(longPath(target.path).c_str());
        DeleteFileW(longPath(target.path + L".part").c_str());
        if (!row.finished.empty()) writeFile(target.path, row.finished);
        if (!row.part.empty()) writeFile(target.path + L".part", row.part);
        EXPECT_EQ(deltaSpaceNeeded(target, row.unpacked, row.root), row.need) << row.name;
    }
}

// Catches a cancel that deletes the downloaded delta or ends as a fallback
// to the full payload, and a failed build that keeps the useless delta.
TEST(StageFromDelta, ACancelKeepsTheDeltaAFailureDropsIt) {
    const std::string program = "MZ program";
    const std::string delta = listOnlyDelta(unchanged("QuorvelAI.exe", program));
    struct Row {
        const char* name;
        bool cancel;
        std::string installed;  // the installed program's bytes
        const wchar_t* thrown;  // null: returns
        bool staged, deltaKept;
    };
    const Row rows[] = {
        {"built", false, program, nullptr, true, true},
        {"cancelled while building", true, program, L"QV-CANCEL", false, true},
        {"installed file edited", false, "MZ edited!", nullptr, false, false},
    };
    for (const Row& row : rows) {
        TempFolder folder;
        TempRedirect redirect(folder.path());
        put(folder / L"root\\app-1.0.0\\QuorvelAI.exe", row.installed);
        std::string hash = sha256(delta);
        std::wstring deltaPath = joinPath(downloadFolder(), L"QuorvelAI-1.1.0-from-1.0.0-" + fromUtf8(hash.substr(0, 12)) +
                                                                L".delta");
        put(deltaPath, delta);
        SetupOptions options;
        RecordingProgress progress;
        if (row.cancel) progress.cancelOnStatus = L"Installing QuorvelAI 1.1.0\u2026";
        SetupContext context(options, &progress, nullptr);
        context.releaseVersion = L"1.1.0";
        context.unpackedSize = program.size();
        context.deltas.push_back({L"1.0.0", L"http://127.0.0.1:9/d.delta", hash, delta.size()});
        std::wstring staged = folder / L"root\\app-1.1.0.tmp";
        std::wstring thrown, returned;
        try {
            returned = stageFromDelta(context, folder / L"root", staged);
        } catch (const SetupError& error) {
            thrown = error.code;
        }
        EXPECT_EQ(thrown, row.thrown ? row.thrown : L"") << row.name;
        EXPECT_EQ(returned, row.staged ? deltaPath : L"") << row.name;
        EXPECT_EQ(isFolder(staged), row.staged) << row.name;
        EXPECT_EQ(isFile(deltaPath), row.deltaKept) << row.name;
    }
}

}  // namespace
}  // namespace qv::test
