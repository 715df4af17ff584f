#include "setup/unpack/unpack_tar_xz.h"

#include "setup/unpack/disk_sink.h"

#include "tests/support/tar_builder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unpack_xz_writer.h"
#include "tests/unpack/unpack_test_support.h"

#include "foundation/files.h"
#include "foundation/paths.h"
#include "foundation/text.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

using test::TarBuilder;
using test::TempFolder;

const wchar_t* const xzEndsEarly = L"The payload is incomplete (the xz stream ends early).";
const wchar_t* const noEndMarker = L"The payload is incomplete (the tar archive has no end marker).";

UnpackResult unpack(const std::wstring& payload, const std::wstring& stage) {
    test::makeFolders(stage);
    return UnpackTarXz(payload, stage, {});
}

UnpackResult unpackBytes(TempFolder& temp, const std::string& xz) {
    std::wstring payload = temp / L"payload.tar.xz";
    test::writeFile(payload, xz);
    return unpack(payload, temp / L"stage");
}

// --- Archives made by real tools --------------------------------------------

class RealArchive : public testing::TestWithParam<const wchar_t*> {};

// Each tool writes names, long names, folders and padding its own way; any
// file missing, extra or different in content shows a reading fault.
TEST_P(RealArchive, UnpacksToTheSourceTree) {
    TempFolder temp;
    UnpackResult result = unpack(test::fixture(GetParam()), temp / L"stage");
    ASSERT_TRUE(result.ok) << testing::PrintToString(result.message);
    std::map<std::wstring, std::string> expected = test::readTree(test::fixture(L"tree"));
    std::map<std::wstring, std::string> unpacked = test::readTree(temp / L"stage");
    EXPECT_EQ(unpacked, expected);
    EXPECT_EQ(result.files, expected.size());
    uint64_t bytes = 0;
    for (const auto& file : expected) bytes += file.second.size();
    EXPECT_EQ(result.bytes, bytes);
    EXPECT_EQ(result.errorCode, 0u);
    EXPECT_TRUE(result.message.empty());
    // git archive keeps no empty folders; every other tool does.
    if (std::wstring(GetParam()) != L"git-archive.tar.xz") {
        EXPECT_TRUE(isFolder(temp / L"stage\\emptydir"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tools, RealArchive,
    testing::Values(L"gnu-ustar.tar.xz", L"gnu-gnu.tar.xz", L"gnu-pax.tar.xz",
                    L"bsdtar-pax.tar.xz", L"bsdtar-ustar.tar.xz", L"python-gnu.tar.xz",
                    L"python-pax.tar.xz", L"git-archive.tar.xz"));

// Presets, check types, many blocks, the x86 filter and a second stream all
// decode through the same calls.
INSTANTIATE_TEST_SUITE_P(
    XzStreams, RealArchive,
    testing::Values(L"xz-preset0.tar.xz", L"xz-preset9e.tar.xz", L"xz-check-none.tar.xz",
                    L"xz-check-crc32.tar.xz", L"xz-check-crc64.tar.xz",
                    L"xz-check-sha256.tar.xz", L"xz-blocks.tar.xz", L"xz-x86.tar.xz",
                    L"xz-two-streams.tar.xz"));

// --- Damaged and incomplete data --------------------------------------------

// A download cut anywhere must never pass for a whole payload.
TEST(UnpackTarXz, TruncatedStreamFails) {
    std::string whole = test::readFile(test::fixture(L"gnu-pax.tar.xz"));
    for (size_t cut : {size_t{0}, size_t{6}, size_t{13}, whole.size() / 2, whole.size() - 13,
                       whole.size() - 1}) {
        TempFolder temp;
        UnpackResult result = unpackBytes(temp, whole.substr(0, cut));
        EXPECT_FALSE(result.ok) << cut;
        EXPECT_EQ(result.errorCode, 0u) << cut;
        bool known = result.message == xzEndsEarly ||
                     result.message.rfind(L"The payload is damaged (xz error ", 0) == 0;
        EXPECT_TRUE(known) << cut << ": " << testing::PrintToString(result.message);
    }
}

// Bytes after the stream that are no xz stream are damage; stream padding
// (zero bytes in fours) is part of the format.
TEST(UnpackTarXz, DataAfterTheStream) {
    std::string whole = test::readFile(test::fixture(L"gnu-ustar.tar.xz"));
    TempFolder temp;
    UnpackResult junk = unpackBytes(temp, whole + "trailing junk");
    EXPECT_FALSE(junk.ok);
    EXPECT_EQ(junk.message.rfind(L"The payload is damaged (xz error ", 0), 0u)
        << testing::PrintToString(junk.message);
    TempFolder temp2;
    EXPECT_TRUE(unpackBytes(temp2, whole + std::string(8, '\0')).ok);
}

// A changed byte inside the compressed data must fail the integrity check.
TEST(UnpackTarXz, CorruptedDataFailsTheCheck) {
    std::string tar = TarBuilder().file("a.txt", std::string(5000, 'a')).end().bytes();
    std::string xz = test::xzStored(tar);
    xz[600] ^= 0x01;
    TempFolder temp;
    UnpackResult result = unpackBytes(temp, xz);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, L"The payload is damaged (xz error 3).");
}

// A tar without its end marker may be a cut archive even though every file
// in it was written; the counts must still tell what was written.
TEST(UnpackTarXz, MissingEndMarker) {
    TarBuilder files;
    files.file("a.txt", "12345").file("b/c.txt", "678");
    std::string variants[] = {files.bytes(), TarBuilder(files).zeroBlock().bytes()};
    for (const std::string& tar : variants) {
        TempFolder temp;
        UnpackResult result = unpackBytes(temp, test::xzStored(tar));
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.message, noEndMarker);
        EXPECT_EQ(result.errorCode, 0u);
        EXPECT_EQ(result.files, 2u);
        EXPECT_EQ(result.bytes, 8u);
    }
}

// The reader's message reaches the result when the reader stops.
TEST(UnpackTarXz, ReaderErrorIsTheMessage) {
    TempFolder temp;
    UnpackResult result =
        unpackBytes(temp, test::xzStored(TarBuilder().file("ok.txt", "1").file("../x", "2").end().bytes()));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, L"The payload has an unsafe file name: ../x");
    EXPECT_EQ(result.files, 1u);
    EXPECT_FALSE(isFile(temp / L"x"));
}

// A payload that is not there gives its Windows error, not a damage text.
TEST(UnpackTarXz, MissingPayload) {
    TempFolder temp;
    UnpackResult result = unpack(temp / L"none.tar.xz", temp / L"stage");
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.errorCode, static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(result.message.rfind(L"Could not open " + (temp / L"none.tar.xz") + L": ", 0), 0u);
}

// The callback sees compressed bytes against the file size, reaching the
// whole size, and a false answer stops the unpack as cancelled.
TEST(UnpackTarXz, ProgressAndCancel) {
    std::wstring payload = test::fixture(L"xz-blocks.tar.xz");
    uint64_t size = fileSize(payload);
    uint64_t lastDone = 0, lastTotal = 0;
    TempFolder temp;
    test::makeFolders(temp / L"stage");
    UnpackResult done = UnpackTarXz(payload, temp / L"stage", [&](uint64_t d, uint64_t t) {
        EXPECT_GE(d, lastDone);
        lastDone = d;
        lastTotal = t;
        return true;
    });
    EXPECT_TRUE(done.ok);
    EXPECT_EQ(lastDone, size);
    EXPECT_EQ(lastTotal, size);

    TempFolder temp2;
    test::makeFolders(temp2 / L"stage");
    UnpackResult stopped = UnpackTarXz(payload, temp2 / L"stage", [](uint64_t, uint64_t) { return false; });
    EXPECT_FALSE(stopped.ok);
    EXPECT_TRUE(stopped.cancelled);
    EXPECT_EQ(stopped.message, L"Cancelled");
}

// --- Writing to disk --------------------------------------------------------

// Paths beyond 260 characters must work through the long-path forms.
TEST(UnpackTarXz, PathLongerThan260Characters) {
    std::string part(90, 'p');
    std::string name = part + "/" + part + "/" + part + "/" + part + "/file.txt";
    TempFolder temp;
    UnpackResult result = unpackBytes(temp, test::xzStored(TarBuilder().longName(name).file("x", "deep").end().bytes()));
    ASSERT_TRUE(result.ok) << testing::PrintToString(result.message);
    std::wstring wide(part.begin(), part.end());
    std::wstring path = temp / (L"stage\\" + wide + L"\\" + wide + L"\\" + wide + L"\\" + wide + L"\\file.txt");
    EXPECT_GT(path.size(), 360u);
    EXPECT_EQ(test::readFile(path), "deep");
}

// A name given twice writes the same file again, inside the staging folder;
// the later content wins and nothing else appears.
TEST(UnpackTarXz, SameFileTwiceStaysInside) {
    TempFolder temp;
    UnpackResult result = unpackBytes(
        temp, test::xzStored(TarBuilder().file("a/f.txt", "first, longer").file("A/F.TXT", "second").end().bytes()));
    ASSERT_TRUE(result.ok);
    auto files = test::readTree(temp / L"stage");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files.begin()->second, "second");
}

// A file where the archive made a folder, or a folder where it wrote a
// file, is a malformed archive: it fails with "already exists" (not an
// access refusal that would blame a security program).
TEST(UnpackTarXz, FileAndFolderOfTheSameName) {
    std::string archives[] = {
        TarBuilder().folder("a").file("a", "x").end().bytes(),
        TarBuilder().file("a", "x").file("a/b", "y").end().bytes(),
        TarBuilder().file("a", "x").folder("a/").end().bytes(),
    };
    for (const std::string& tar : archives) {
        TempFolder temp;
        UnpackResult result = unpackBytes(temp, test::xzStored(tar));
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.errorCode, static_cast<uint32_t>(ERROR_ALREADY_EXISTS))
            << testing::PrintToString(result.message);
        EXPECT_EQ(result.failingPath, temp / L"stage\\a");
        EXPECT_EQ(result.message.rfind(L"Could not write " + (temp / L"stage\\a") + L": ", 0), 0u);
    }
}

// Device names never reach CreateFileW, whatever case or extension.
TEST(UnpackTarXz, DeviceNamesAreRefused) {
    for (const char* name : {"CON", "bin/nul.txt", "aux", "COM1.dll", "lpt2"}) {
        TempFolder temp;
        UnpackResult result = unpackBytes(temp, test::xzStored(TarBuilder().file(name, "x").end().bytes()));
        EXPECT_FALSE(result.ok) << name;
        EXPECT_EQ(result.message, L"The payload has an unsafe file name: " + fromUtf8(name));
        EXPECT_TRUE(test::readTree(temp / L"stage").empty()) << name;
    }
}

// The sink claims a file's size when it begins, before any data arrives,
// so a full disk shows at the start of the file.
TEST(DiskSink, ReservesTheSizeAtTheStart) {
    TempFolder temp;
    UnpackResult result;
    std::unique_ptr<TarSink> sink = makeDiskSink(temp.path(), result);
    ASSERT_TRUE(sink->BeginFile(L"sub\\r.bin", 70000));
    EXPECT_EQ(fileSize(temp / L"sub\\r.bin"), 70000u);
    std::string data(70000, 'r');
    ASSERT_TRUE(sink->Write(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
    ASSERT_TRUE(sink->EndFile());
    EXPECT_EQ(test::readFile(temp / L"sub\\r.bin"), data);
    EXPECT_EQ(result.files, 1u);
    EXPECT_EQ(result.bytes, 70000u);
}

BOOL WINAPI allocationFails(HANDLE, FILE_INFO_BY_HANDLE_CLASS which, LPVOID, DWORD) {
    SetLastError(which == FileAllocationInfo ? ERROR_DISK_FULL : ERROR_SUCCESS);
    return which != FileAllocationInfo;
}
BOOL WINAPI endOfFileFails(HANDLE, FILE_INFO_BY_HANDLE_CLASS which, LPVOID, DWORD) {
    SetLastError(which == FileEndOfFileInfo ? ERROR_DISK_FULL : ERROR_SUCCESS);
    return which != FileEndOfFileInfo;
}
BOOL WINAPI reservationUnsupported(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}
BOOL WINAPI writeFailsFull(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) {
    *written = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}
BOOL WINAPI writeTakesNothing(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) {
    *written = 0;
    return TRUE;
}

struct SinkFailureCase {
    const char* name;
    DiskSinkCalls calls;
    bool beginFails;  // else the write fails
    uint32_t error;   // 0: no failure at all
};

// A full disk acted out at each call of the sink: the reservation (either
// half) must fail at the start of the file with 112, a write that fails or
// takes nothing must end the file with a disk-full code (not loop, not pass
// for damaged data), and a volume that cannot reserve early still gets the
// file written.
TEST(DiskSink, FullDiskAtEachCall) {
    DiskSinkCalls allocation, endOfFile, unsupported, writeFull, writeNothing;
    allocation.setFileInformation = allocationFails;
    endOfFile.setFileInformation = endOfFileFails;
    unsupported.setFileInformation = reservationUnsupported;
    writeFull.writeFile = writeFailsFull;
    writeNothing.writeFile = writeTakesNothing;
    const SinkFailureCase cases[] = {
        {"allocation", allocation, true, ERROR_DISK_FULL},
        {"endOfFile", endOfFile, true, ERROR_DISK_FULL},
        {"unsupported", unsupported, false, 0},
        {"writeFails", writeFull, false, ERROR_DISK_FULL},
        {"writeTakesNothing", writeNothing, false, ERROR_HANDLE_DISK_FULL},
    };
    for (const SinkFailureCase& c : cases) {
        TempFolder temp;
        UnpackResult result;
        std::unique_ptr<TarSink> sink = makeDiskSink(temp.path(), result, c.calls);
        std::string data(5000, 'd');
        bool began = sink->BeginFile(L"f.bin", data.size());
        bool wrote = began && sink->Write(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        bool ended = wrote && sink->EndFile();
        EXPECT_EQ(began, !c.beginFails) << c.name;
        EXPECT_EQ(ended, c.error == 0) << c.name;
        EXPECT_EQ(result.errorCode, c.error) << c.name;
        if (c.error == 0) {
            EXPECT_EQ(test::readFile(temp / L"f.bin"), data) << c.name;
            continue;
        }
        EXPECT_EQ(result.failingPath, temp / L"f.bin") << c.name;
        EXPECT_NE(result.message.find(formatText(L"(error %u)", c.error)), std::wstring::npos)
            << c.name << " " << testing::PrintToString(result.message);
        EXPECT_EQ(result.files, 0u) << c.name;
    }
}

// Entries that return to a folder seen before, or go to a sibling, must
// each land in their own folder (a stale folder memory would misplace them).
TEST(DiskSink, FoldersAcrossEntries) {
    TempFolder temp;
    UnpackResult result = unpackBytes(temp, test::xzStored(TarBuilder()
                                                               .file("a/1", "1")
                                                               .file("a/b/2", "2")
                                                               .file("a/3", "3")
                                                               .file("c/4", "4")
                                                               .file("A/5", "5")
                                                               .folder("d/e/f")
                                                               .end()
                                                               .bytes()));
    ASSERT_TRUE(result.ok);
    auto files = test::readTree(temp / L"stage");
    EXPECT_EQ(files, (std::map<std::wstring, std::string>{
                         {L"a\\1", "1"}, {L"a\\b\\2", "2"}, {L"a\\3", "3"}, {L"c\\4", "4"}, {L"a\\5", "5"}}));
    EXPECT_TRUE(isFolder(temp / L"stage\\d\\e\\f"));
}

}  // namespace
}  // namespace qv
