// The setup program's only way to the network: GET requests over WinHTTP,
// small documents into memory and large files to disk with resume, and a
// cancellation that another thread can trigger at any moment.
#pragma once

#include "foundation/crypto_handles.h"
#include "setup/core/progress.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qv {

enum class DownloadOutcome : int32_t { Complete = 0, Cancelled = 1, Failed = 2 };

// The waits between attempts, in milliseconds. The product always uses the
// standard schedule; tests hand in shorter ones.
struct RetrySchedule {
    // Before the second and the third attempt of Get.
    std::array<DWORD, 2> getPauses{{1000, 3000}};
    // After consecutive Download failures 1 to 5.
    std::array<DWORD, 5> downloadPauses{{2000, 4000, 8000, 15000, 30000}};
};

class HttpClient;

// The file write of Download. Tests hand in one that fails part-way through
// a body, as a filling disk does; the product always uses WriteFile.
using FileWriteCall = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

// One request attempt: its connect and request handles, the status and the
// length headers. Releasing it closes the request handle unless Cancel
// already did so, then the connection.
struct HttpResponse {
    explicit HttpResponse(HttpClient& owner) : client(&owner) {}
    ~HttpResponse() { release(); }
    HttpResponse(const HttpResponse&) = delete;
    HttpResponse& operator=(const HttpResponse&) = delete;

    void release();

    HttpClient* client;
    WinHttpHandle connection;
    WinHttpHandle request;
    DWORD status = 0;
    uint64_t contentLength = 0;
    bool hasContentLength = false;
    uint64_t rangeStart = 0;  // Content-Range of a 206 answer, else 0
    uint64_t rangeTotal = 0;
    bool hasRangeStart = false;  // a 206 answer named its first byte
};

class HttpClient {
public:
    // Never fails; when WinHTTP cannot start, every request fails later with
    // a text that says so.
    explicit HttpClient(const wchar_t* userAgent, const RetrySchedule& schedule = RetrySchedule(),
                        FileWriteCall writeFile = WriteFile);
    ~HttpClient() = default;
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // From any thread, any number of times: ends a pause at once and closes
    // the request being received, so that a blocked call returns. Every later
    // Get and Download ends as cancelled straight away, until ResetCancel.
    void Cancel();
    bool cancelled() const;
    // Lets requests run again after a Cancel. Call only while no request is
    // in progress (between runs of the steps).
    void ResetCancel();

    // One GET attempt. range is the first byte wanted (0: the whole file).
    // True when any answer arrived; otherwise errorText and errorCode say why.
    bool SendRequest(const std::wstring& url, uint64_t range, HttpResponse& response,
                     std::wstring& errorText, DWORD& errorCode);

    // A small document (at most 4 MiB) into body: up to three attempts.
    // True only for a complete 200 answer; otherwise errorText says why
    // ("Cancelled" after Cancel).
    bool Get(const std::wstring& url, std::string& body, std::wstring& errorText);

    // The file at url into partPath, continuing a partial file with a range
    // request. expectedSize 0 means unknown. The partial file stays after a
    // failure or cancellation, so a later call resumes it.
    DownloadOutcome Download(const std::wstring& url, const std::wstring& partPath,
                             uint64_t expectedSize, const ProgressCallback& progress,
                             std::wstring& errorText);

    const RetrySchedule& schedule() const { return schedule_; }
    int32_t maxDownloadFailures() const { return maxDownloadFailures_; }

    // The result of one Download attempt (used inside the client only).
    struct Attempt;

private:
    friend struct HttpResponse;

    // Takes request out of the in-flight slot; false when Cancel has closed
    // it already, so the caller must not close it again.
    bool forgetRequest(HINTERNET request);
    // Clears the in-flight slot when it holds request.
    void clearCurrent(HINTERNET request);
    // True when Cancel came during the wait.
    bool pause(DWORD milliseconds) const;

    bool getOnce(const std::wstring& url, std::string& body, std::wstring& errorText,
                 bool& retryable);
    Attempt downloadOnce(const std::wstring& url, const std::wstring& partPath,
                         uint64_t expectedSize, const ProgressCallback& progress,
                         std::vector<char>& buffer);
    Attempt receiveToFile(HttpResponse& response, const std::wstring& partPath, bool append,
                          uint64_t have, uint64_t total, const ProgressCallback& progress,
                          std::vector<char>& buffer);

    int32_t maxDownloadFailures_ = 6;
    RetrySchedule schedule_;
    FileWriteCall writeFile_;
    WinHttpHandle session_;
    DWORD sessionError_ = 0;  // why session_ is null
    HINTERNET currentRequest_ = nullptr;    // under lock_
    HINTERNET cancelledRequest_ = nullptr;  // under lock_
    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    KernelHandle cancelEvent_;
};

}  // namespace qv
