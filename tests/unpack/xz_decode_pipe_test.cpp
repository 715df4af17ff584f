// The decoding thread on its own, and the driver stopping it early.
#include "setup/unpack/xz_decode_pipe.h"

#include "setup/unpack/unpack_tar_xz.h"

#include "tests/support/tar_builder.h"
#include "tests/support/temp_folder.h"
#include "tests/support/unpack_xz_writer.h"

#include "foundation/handles.h"
#include "foundation/paths.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace qv {
namespace {

using test::TempFolder;

// Well over the two 2 MiB halves, with bytes that differ per position so
// that a piece lost, repeated or out of order shows.
std::string largeData() {
    std::string data(9 * 1048576 + 12345, '\0');
    uint32_t x = 12345;
    for (char& c : data) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return data;
}

struct Drained {
    bool started = false;
    std::string bytes;
    uint64_t lastConsumed = 0;
    std::wstring failure;
    uint32_t errorCode = 0;
};

Drained drain(HANDLE file, const std::wstring& path) {
    Drained out;
    XzDecodePipe pipe(file, path);
    out.started = pipe.start();
    const uint8_t* bytes = nullptr;
    size_t length = 0;
    uint64_t consumed = 0;
    while (out.started && pipe.next(bytes, length, consumed)) {
        out.bytes.append(reinterpret_cast<const char*>(bytes), length);
        out.lastConsumed = consumed;
        pipe.release();
    }
    out.failure = pipe.failure();
    out.errorCode = pipe.errorCode();
    return out;
}

FileHandle openFor(const std::wstring& path, DWORD access) {
    return FileHandle(CreateFileW(longPath(path).c_str(), access, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Catches the two halves handed out in the wrong order, a piece handed out
// twice or lost, and consumed counts that do not reach the file's end.
TEST(XzDecodePipe, LargeStreamComesBackByteForByte) {
    TempFolder temp;
    std::string data = largeData();
    std::string xz = test::xzStored(data);
    std::wstring path = temp / L"large.xz";
    test::writeFile(path, xz);
    FileHandle file = openFor(path, GENERIC_READ);
    ASSERT_TRUE(file.valid());
    Drained out = drain(file.get(), path);
    ASSERT_TRUE(out.started);
    EXPECT_TRUE(out.failure.empty()) << testing::PrintToString(out.failure);
    ASSERT_EQ(out.bytes.size(), data.size());
    EXPECT_TRUE(out.bytes == data);
    EXPECT_EQ(out.lastConsumed, xz.size());
}

// Catches a failed read taken for the end of the data (or for damage
// without a Windows error, which would blame the download).
TEST(XzDecodePipe, ReadFailureCarriesTheWindowsError) {
    TempFolder temp;
    std::wstring path = temp / L"payload.xz";
    test::writeFile(path, test::xzStored("some data"));
    FileHandle file = openFor(path, FILE_READ_ATTRIBUTES);  // no read access
    ASSERT_TRUE(file.valid());
    Drained out = drain(file.get(), path);
    ASSERT_TRUE(out.started);
    EXPECT_TRUE(out.bytes.empty());
    EXPECT_EQ(out.errorCode, static_cast<uint32_t>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(out.failure.rfind(L"Could not read " + path + L": ", 0), 0u)
        << testing::PrintToString(out.failure);
}

// Catches a cancel that deadlocks against the decoding thread (both halves
// full, the thread waiting for a free one while the driver waits for it):
// the user's cancel would hang. Stops on the second progress call, while
// the thread is still busy.
TEST(XzDecodePipe, CancelOnTheSecondProgressCallEnds) {
    TempFolder temp;
    std::wstring payload = temp / L"payload.tar.xz";
    test::writeFile(payload,
                    test::xzStored(test::TarBuilder().file("big.bin", largeData()).end().bytes()));
    std::wstring stage = temp / L"stage";
    test::makeFolders(stage);
    auto calls = std::make_shared<int>(0);
    auto run = std::make_shared<std::packaged_task<UnpackResult()>>([=] {
        return UnpackTarXz(payload, stage, [calls](uint64_t, uint64_t) { return ++*calls < 2; });
    });
    std::future<UnpackResult> result = run->get_future();
    std::thread([run] { (*run)(); }).detach();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(60)), std::future_status::ready)
        << "the unpack did not end after the cancel";
    UnpackResult unpacked = result.get();
    EXPECT_FALSE(unpacked.ok);
    EXPECT_TRUE(unpacked.cancelled);
    EXPECT_EQ(unpacked.message, L"Cancelled");
    EXPECT_EQ(*calls, 2);
}

}  // namespace
}  // namespace qv
