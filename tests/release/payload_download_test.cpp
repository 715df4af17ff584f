#include "release_test_fixture.h"

#include "foundation/files.h"
#include "foundation/paths.h"
#include "setup/core/options.h"
#include "setup/core/setup_context.h"
#include "setup/core/setup_error.h"
#include "foundation/folder_tree.h"
#include "setup/release/download_meter.h"
#include "setup/release/payload_download.h"
#include "setup/release/sha256_file.h"
#include "tests/support/release_progress.h"
#include "tests/support/temp_folder.h"

#include <memory>

namespace qv::test {
namespace {

class PayloadDownload : public ServerTest {
protected:
    void SetUp() override {
        ServerTest::SetUp();
        if (IsSkipped()) return;
        redirect_ = std::make_unique<TempRedirect>(folder_.path());
        path_ = uniquePath("QuorvelAI-win-x64.tar.xz");
        content_ = patternBytes(600000, 11);
        publishFile(path_, content_);
        SetupOptions options;
        context_ = std::make_unique<SetupContext>(options, &progress, &client);
        context_->releaseVersion = L"1.2.3";
        context_->payloadUrl = httpUrl(path_);
        context_->payloadSha256 = sha256Hex(content_);
        context_->payloadSize = content_.size();
        context_->releaseKnown = true;
    }
    void TearDown() override { redirect_.reset(); }

    std::wstring finalPath() const { return payloadFilePath(*context_); }
    std::wstring partPath() const { return finalPath() + L".part"; }
    std::vector<RecordedRequest> requests() { return control.requestsFor(path_); }

    std::wstring run() {
        try {
            result_ = DownloadPayload(*context_);
        } catch (const SetupError& error) {
            error_ = error;
            return error.code;
        }
        return L"";
    }
    bool sawStatus(const std::wstring& text) const {
        for (const auto& status : progress.statuses)
            if (status == text) return true;
        return false;
    }

    TempFolder folder_;
    std::unique_ptr<TempRedirect> redirect_;
    RecordingProgress progress;
    HttpClient client{userAgent, shortSchedule()};
    std::unique_ptr<SetupContext> context_;
    std::string path_;
    std::string content_;
    std::wstring result_;
    SetupError error_;
};

// Catches a wrong file name, a leftover ".part" or missing status lines.
TEST_F(PayloadDownload, DownloadsAndProves) {
    ASSERT_EQ(run(), L"") << error_.detail;
    EXPECT_EQ(result_, joinPath(joinPath(folder_.path(), L"QuorvelAI-Setup"),
                                L"QuorvelAI-1.2.3-" + fromUtf8(context_->payloadSha256.substr(0, 12)) +
                                    L".tar.xz"));
    EXPECT_EQ(readFile(result_), content_);
    EXPECT_FALSE(isFile(partPath()));
    EXPECT_TRUE(sawStatus(L"Downloading QuorvelAI 1.2.3\u2026"));
    EXPECT_TRUE(sawStatus(L"Checking the download\u2026"));
    ASSERT_FALSE(progress.details.empty());
    EXPECT_EQ(progress.details.back(), L"");  // cleared for the check
    EXPECT_EQ(progress.details[progress.details.size() - 2].rfind(L"0.6 MB of 0.6 MB", 0), 0u);
}

// Catches a proved earlier download that is fetched again.
TEST_F(PayloadDownload, ReusesAProvedDownloadWithoutARequest) {
    makeFolders(parentFolder(finalPath()));
    writeFile(finalPath(), content_);
    ASSERT_EQ(run(), L"") << error_.detail;
    EXPECT_EQ(result_, finalPath());
    EXPECT_TRUE(requests().empty());
    EXPECT_TRUE(sawStatus(L"Checking the earlier download\u2026"));
    EXPECT_FALSE(sawStatus(L"Downloading QuorvelAI 1.2.3\u2026"));
}

// Catches a damaged earlier download of the right size that is trusted.
TEST_F(PayloadDownload, DamagedEarlierDownloadIsReplaced) {
    makeFolders(parentFolder(finalPath()));
    std::string damaged = content_;
    damaged[1000] ^= 0x55;
    writeFile(finalPath(), damaged);
    ASSERT_EQ(run(), L"") << error_.detail;
    EXPECT_EQ(readFile(finalPath()), content_);
    EXPECT_EQ(requests().size(), 1u);
}

// Regression: cancelling while an earlier download was being checked
// deleted that good file as if it had failed the check.
TEST_F(PayloadDownload, CancelDuringTheReuseCheckKeepsTheFile) {
    makeFolders(parentFolder(finalPath()));
    writeFile(finalPath(), content_);
    progress.cancelOnStatus = L"Checking the earlier download\u2026";
    EXPECT_EQ(run(), L"QV-CANCEL");
    EXPECT_EQ(readFile(finalPath()), content_);
}

// Catches a resume that ignores the partial file of an earlier run.
TEST_F(PayloadDownload, ResumesThePartialFile) {
    makeFolders(parentFolder(partPath()));
    writeFile(partPath(), content_.substr(0, 250000));
    ASSERT_EQ(run(), L"") << error_.detail;
    EXPECT_EQ(readFile(result_), content_);
    auto log = requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].range, "bytes=250000-");
}

// Catches a first mismatch that is not downloaded again from scratch.
TEST_F(PayloadDownload, OneMismatchDownloadsAgain) {
    ASSERT_TRUE(control.setFaults(path_, "[{\"corrupt_at\":1234}]"));
    ASSERT_EQ(run(), L"") << error_.detail;
    EXPECT_EQ(readFile(result_), content_);
    auto log = requests();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_FALSE(log[1].hasRange);
}

// Catches a mismatch that ends without QV-HASH-1 or leaves a file behind.
TEST_F(PayloadDownload, TwoMismatchesAreHash1) {
    context_->payloadSha256 = std::string(64, '0');
    EXPECT_EQ(run(), L"QV-HASH-1");
    EXPECT_EQ(error_.message,
              L"The download was damaged on the way, twice. A proxy or security program may be "
              L"changing it.");
    EXPECT_EQ(error_.detail, context_->payloadUrl);
    EXPECT_TRUE(error_.retryable);
    EXPECT_EQ(requests().size(), 2u);
    EXPECT_FALSE(isFile(partPath()));
    EXPECT_FALSE(isFile(finalPath()));
}

// Catches a cancel during the check reported as a checksum failure (which
// would also delete the partial file).
TEST_F(PayloadDownload, CancelDuringTheCheckIsQvCancel) {
    progress.cancelOnStatus = L"Checking the download\u2026";
    EXPECT_EQ(run(), L"QV-CANCEL");
    EXPECT_TRUE(isFile(partPath()));
}

// Catches a stopped transfer reported as a network error, or its partial
// file removed.
TEST_F(PayloadDownload, CancelDuringTheTransfer) {
    ASSERT_TRUE(control.setFaults(path_, "[{\"throttle_bps\":200000}]"));
    progress.cancelAfterDetails = 1;
    EXPECT_EQ(run(), L"QV-CANCEL");
    EXPECT_EQ(error_.message, L"Setup was cancelled.");
    EXPECT_TRUE(error_.detail.empty());
    EXPECT_TRUE(isFile(partPath()));
}

// Catches a failed download without the QV-NET-5 detail (URL and reason).
TEST_F(PayloadDownload, MissingPayloadIsNet5) {
    context_->payloadUrl = httpUrl(uniquePath("nothing-here.tar.xz"));
    EXPECT_EQ(run(), L"QV-NET-5");
    EXPECT_EQ(error_.detail, context_->payloadUrl + L"\nThe server answered 404");
    EXPECT_TRUE(error_.retryable);
}

// Catches a space check without the 16 MiB of room or with a wrong text.
TEST_F(PayloadDownload, NotEnoughSpaceIsDisk2) {
    context_->payloadSize = 1ull << 52;  // far more than any test disk
    EXPECT_EQ(run(), L"QV-DISK-2");
    std::wstring folder = joinPath(folder_.path(), L"QuorvelAI-Setup");
    std::wstring start = L"Not enough free disk space for the download. It needs " +
                         megabytesText((1ull << 52) + 16777216) + L" on the drive of " + folder +
                         L", which has ";
    EXPECT_EQ(error_.message.rfind(start, 0), 0u) << error_.message;
    std::wstring freeText = error_.message.substr(start.size());
    EXPECT_EQ(freeText.size() > 9 ? freeText.substr(freeText.size() - 9) : L"", L" MB free.");
    EXPECT_FALSE(error_.retryable);
    EXPECT_TRUE(requests().empty());
}

// Catches a hash that is wrong, upper-case, or reads the file in one piece.
TEST_F(PayloadDownload, HashFileMatchesAndReportsPieces) {
    std::wstring file = folder_ / L"hash.bin";
    std::string bytes = patternBytes(2500000, 3);
    writeFile(file, bytes);
    std::vector<uint64_t> done;
    std::string hash = HashFileSha256(file, [&done](uint64_t d, uint64_t total) {
        EXPECT_EQ(total, 2500000u);
        done.push_back(d);
        return true;
    });
    EXPECT_EQ(hash, sha256Hex(bytes));
    EXPECT_EQ(done, (std::vector<uint64_t>{1048576, 2097152, 2500000}));
    // The empty file has the well-known digest.
    writeFile(folder_ / L"empty.bin", "");
    EXPECT_EQ(HashFileSha256(folder_ / L"empty.bin"),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

// Catches a hash returned for a missing file or after a stop.
TEST_F(PayloadDownload, HashFileFailures) {
    DWORD code = 0;
    EXPECT_EQ(HashFileSha256(folder_ / L"absent.bin", nullptr, &code), "");
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    writeFile(folder_ / L"some.bin", patternBytes(3000000, 1));
    EXPECT_EQ(HashFileSha256(folder_ / L"some.bin", [](uint64_t, uint64_t) { return false; }), "");
}

}  // namespace
}  // namespace qv::test
