// HttpClient::Download: a resumable download to a file that survives bad
// lines as long as each attempt brings bytes.
#include "http_client.h"

#include "network_errors.h"

#include "foundation/files.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"
#include "foundation/text.h"

namespace qv {

struct HttpClient::Attempt {
    enum class End { Complete, Cancelled, Failed, Retry };
    End end = End::Retry;
    std::wstring text;      // why the attempt failed
    uint64_t written = 0;   // bytes this attempt added to the file
    uint64_t reached = 0;   // the file's size when the attempt ended
    bool final = false;     // another attempt cannot help
};

namespace {

constexpr size_t downloadBuffer = 262144;

using Attempt = HttpClient::Attempt;

Attempt ended(Attempt::End end, std::wstring text = {}) {
    Attempt attempt;
    attempt.end = end;
    attempt.text = std::move(text);
    return attempt;
}

Attempt retry(std::wstring text) { return ended(Attempt::End::Retry, std::move(text)); }

std::wstring writeError(const std::wstring& path, DWORD code) {
    return formatText(L"Could not write the download to %ls: %ls (error %lu)", path.c_str(),
                      windowsErrorText(code).c_str(), code);
}

void deletePart(const std::wstring& path) { DeleteFileW(longPath(path).c_str()); }

}  // namespace

DownloadOutcome HttpClient::Download(const std::wstring& url, const std::wstring& partPath,
                                     uint64_t expectedSize, const ProgressCallback& progress,
                                     std::wstring& errorText) {
    if (cancelled()) return DownloadOutcome::Cancelled;
    std::vector<char> buffer(downloadBuffer);
    int32_t failures = 0;
    uint64_t furthest = 0;
    for (;;) {
        Attempt attempt = downloadOnce(url, partPath, expectedSize, progress, buffer);
        if (attempt.end == Attempt::End::Complete) return DownloadOutcome::Complete;
        if (attempt.end == Attempt::End::Cancelled) return DownloadOutcome::Cancelled;
        if (attempt.end == Attempt::End::Failed) {
            errorText = attempt.text;
            return DownloadOutcome::Failed;
        }
        if (cancelled()) return DownloadOutcome::Cancelled;
        // Progress proves the line works, so only failures in a row count.
        // Bytes that only cover ground already won are no progress: a server
        // whose file is shorter than expected, or that drops every whole-file
        // answer at the same place, would otherwise be asked forever.
        bool progressed = attempt.written > 0 && attempt.reached > furthest;
        if (progressed) furthest = attempt.reached;
        failures = progressed ? 1 : failures + 1;
        logWarn(L"Download of %ls stopped (failure %d of %d): %ls", url.c_str(), failures,
                maxDownloadFailures_, attempt.text.c_str());
        if (attempt.final || failures >= maxDownloadFailures_) {
            errorText = attempt.text;
            return DownloadOutcome::Failed;
        }
        DWORD wait = schedule_.downloadPauses[progressed ? 0 : failures - 1];
        if (pause(wait) || cancelled()) return DownloadOutcome::Cancelled;
    }
}

HttpClient::Attempt HttpClient::downloadOnce(const std::wstring& url, const std::wstring& partPath,
                                             uint64_t expectedSize,
                                             const ProgressCallback& progress,
                                             std::vector<char>& buffer) {
    uint64_t have = fileSize(partPath);
    uint64_t total = expectedSize;
    if (total != 0 && have > total) {
        logWarn(L"Partial download is larger than expected (%llu > %llu), starting over", have,
                total);
        deletePart(partPath);
        have = 0;
    }
    if (total != 0 && have == total) {
        if (progress) progress(have, total);
        return ended(Attempt::End::Complete);
    }
    if (have > 0) logInfo(L"Continuing download at byte %llu", have);

    HttpResponse response(*this);
    std::wstring text;
    DWORD code = 0;
    if (!SendRequest(url, have, response, text, code)) return retry(text);
    HINTERNET request = response.request.get();
    DWORD status = response.status;
    bool append = false;
    if (status == 206 && have > 0 && response.rangeStart == have) {
        append = true;
        if (total == 0 && response.rangeTotal != 0) total = response.rangeTotal;
    } else if (status == 206 && have > 0 && !response.hasRangeStart) {
        // Without a first byte the piece cannot be placed: taking it for the
        // whole file would corrupt the download like a piece from elsewhere.
        clearCurrent(request);
        deletePart(partPath);
        return retry(L"The server sent part of the file without saying which part");
    } else if (status == 200 || (status == 206 && response.rangeStart == 0)) {
        if (have > 0) logInfo(L"Server sent the whole file (status %lu), starting over", status);
        have = 0;
        if (total == 0 && response.hasContentLength) total = response.contentLength;
    } else if (status == 206) {
        // Bytes from anywhere else belong at another offset: writing them
        // would corrupt the file. Start over without a range instead.
        clearCurrent(request);
        deletePart(partPath);
        return retry(formatText(L"The server sent the file from byte %llu instead of byte %llu",
                                response.rangeStart, have));
    } else if (status == 416) {
        clearCurrent(request);
        deletePart(partPath);
        return retry(L"The server refused the resume request (416)");
    } else {
        clearCurrent(request);
        Attempt attempt = retry(formatText(L"The server answered %lu", status));
        attempt.final = status >= 400 && status <= 499 && status != 408 && status != 429;
        return attempt;
    }
    return receiveToFile(response, partPath, append, have, total, progress, buffer);
}

HttpClient::Attempt HttpClient::receiveToFile(HttpResponse& response, const std::wstring& partPath,
                                              bool append, uint64_t have, uint64_t total,
                                              const ProgressCallback& progress,
                                              std::vector<char>& buffer) {
    HINTERNET request = response.request.get();
    FileHandle file(CreateFileW(longPath(partPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file) {
        DWORD error = GetLastError();
        clearCurrent(request);
        return ended(Attempt::End::Failed, writeError(partPath, error));
    }
    LARGE_INTEGER zero = {};
    if (append && !SetFilePointerEx(file.get(), zero, nullptr, FILE_END)) {
        // Writing at the start instead would corrupt the file.
        DWORD error = GetLastError();
        clearCurrent(request);
        return ended(Attempt::End::Failed, writeError(partPath, error));
    }
    Attempt attempt;
    bool readFailed = false;
    for (;;) {
        DWORD read = 0;
        if (!WinHttpReadData(request, buffer.data(), static_cast<DWORD>(buffer.size()), &read)) {
            attempt.text = DescribeNetworkError(GetLastError());
            readFailed = true;
            break;
        }
        if (read == 0) break;
        if (total != 0 && have + read > total) {
            // An endless or overlong body would fill the drive past the space
            // that was checked for the file; what is there cannot be trusted.
            file.reset();
            clearCurrent(request);
            deletePart(partPath);
            return ended(Attempt::End::Failed,
                         formatText(L"The server sent more than the expected %llu bytes", total));
        }
        DWORD written = 0;
        BOOL wrote = writeFile_(file.get(), buffer.data(), read, &written, nullptr);
        if (!wrote || written != read) {
            // A short write that reports success is a full disk.
            DWORD error = wrote ? ERROR_DISK_FULL : GetLastError();
            file.reset();
            clearCurrent(request);
            return ended(Attempt::End::Failed, writeError(partPath, error));
        }
        have += read;
        attempt.written += read;
        if (progress && !progress(have, total)) {
            file.reset();
            clearCurrent(request);
            return ended(Attempt::End::Cancelled);
        }
    }
    file.reset();
    clearCurrent(request);
    attempt.reached = have;
    if (readFailed) return attempt;
    uint64_t size = fileSize(partPath);
    if (total != 0 && size < total) {
        attempt.text = formatText(L"The connection closed early (%llu of %llu bytes)", size, total);
        return attempt;
    }
    return ended(Attempt::End::Complete);
}

}  // namespace qv
