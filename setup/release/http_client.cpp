#include "http_client.h"

#include "network_errors.h"

#include "foundation/log.h"
#include "foundation/text.h"

namespace qv {
namespace {

constexpr DWORD getPiece = 65536;
constexpr size_t getLimit = 4194304;

// The decimal digits at text[from...]; false when there is none. Absurdly
// long numbers stop growing at the 64-bit limit.
bool leadingDigits(const std::wstring& text, size_t from, uint64_t& value) {
    value = 0;
    size_t at = from;
    for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at) {
        uint64_t digit = static_cast<uint64_t>(text[at] - L'0');
        value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
    }
    return at > from;
}

// A text header of the answer; empty when it is absent or does not fit.
std::wstring headerText(HINTERNET request, DWORD which) {
    wchar_t buffer[128];
    DWORD size = sizeof(buffer);
    if (!WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, buffer, &size,
                             WINHTTP_NO_HEADER_INDEX))
        return {};
    return std::wstring(buffer, size / sizeof(wchar_t));
}

// Status, Content-Length and, for a partial answer, "bytes FIRST-LAST/TOTAL".
void readAnswerHeaders(HttpResponse& response) {
    HINTERNET request = response.request.get();
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        response.status = status;
    std::wstring length = headerText(request, WINHTTP_QUERY_CONTENT_LENGTH);
    response.hasContentLength = leadingDigits(length, 0, response.contentLength);
    if (response.status != 206) return;
    std::wstring range = headerText(request, WINHTTP_QUERY_CONTENT_RANGE);
    size_t space = range.find(L' ');
    if (space == std::wstring::npos) return;
    response.hasRangeStart = leadingDigits(range, space + 1, response.rangeStart);
    size_t slash = range.find(L'/', space + 1);
    if (slash != std::wstring::npos) leadingDigits(range, slash + 1, response.rangeTotal);
}

}  // namespace

void HttpResponse::release() {
    if (request) {
        // Cancel may have closed this handle on another thread already; a
        // second close could hit a handle WinHTTP has since given out again.
        if (client->forgetRequest(request.get())) request.reset();
        else request.release();
    }
    connection.reset();
}

HttpClient::HttpClient(const wchar_t* userAgent, const RetrySchedule& schedule,
                       FileWriteCall writeFile)
    : schedule_(schedule), writeFile_(writeFile) {
    cancelEvent_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    session_.reset(WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                               WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session_) {
        // Older systems do not know the automatic proxy type.
        logWarn(L"Automatic proxy not available (%lu), using the default proxy setting",
                GetLastError());
        session_.reset(WinHttpOpen(userAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                   WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        if (!session_) {
            sessionError_ = GetLastError();
            return;
        }
    }
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
    if (!WinHttpSetOption(session_.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                          sizeof(protocols))) {
        // Systems without TLS 1.3 refuse the pair.
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        WinHttpSetOption(session_.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                         sizeof(protocols));
    }
    WinHttpSetTimeouts(session_.get(), 30000, 30000, 30000, 60000);
}

void HttpClient::Cancel() {
    // The event first: a worker between two requests sees it at its next
    // check, one inside a request sees its handle closed below.
    if (cancelEvent_) SetEvent(cancelEvent_.get());
    ExclusiveLock hold(lock_);
    if (currentRequest_) {
        WinHttpHandle closing(currentRequest_);
        cancelledRequest_ = currentRequest_;
        currentRequest_ = nullptr;
    }
}

void HttpClient::ResetCancel() {
    if (cancelEvent_) ResetEvent(cancelEvent_.get());
}

bool HttpClient::cancelled() const {
    return cancelEvent_ && WaitForSingleObject(cancelEvent_.get(), 0) == WAIT_OBJECT_0;
}

bool HttpClient::pause(DWORD milliseconds) const {
    if (!cancelEvent_) {
        Sleep(milliseconds);
        return false;
    }
    return WaitForSingleObject(cancelEvent_.get(), milliseconds) == WAIT_OBJECT_0;
}

bool HttpClient::forgetRequest(HINTERNET request) {
    ExclusiveLock hold(lock_);
    if (currentRequest_ == request) currentRequest_ = nullptr;
    if (cancelledRequest_ == request) {
        cancelledRequest_ = nullptr;
        return false;
    }
    return true;
}

void HttpClient::clearCurrent(HINTERNET request) {
    ExclusiveLock hold(lock_);
    if (currentRequest_ == request) currentRequest_ = nullptr;
}

bool HttpClient::SendRequest(const std::wstring& url, uint64_t range, HttpResponse& response,
                             std::wstring& errorText, DWORD& errorCode) {
    errorCode = 0;
    if (!session_) {
        errorCode = sessionError_;
        errorText = L"WinHTTP could not start: " + DescribeNetworkError(errorCode);
        return false;
    }
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        errorCode = GetLastError();
        errorText = L"Bad address: " + url;
        return false;
    }
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object(parts.lpszUrlPath ? parts.lpszUrlPath : L"", parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);

    response.connection.reset(WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
    if (!response.connection) {
        errorCode = GetLastError();
        errorText = DescribeNetworkError(errorCode);
        return false;
    }
    DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    response.request.reset(WinHttpOpenRequest(response.connection.get(), L"GET",
                                              object.empty() ? nullptr : object.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              flags));
    if (!response.request) {
        errorCode = GetLastError();
        errorText = DescribeNetworkError(errorCode);
        return false;
    }
    HINTERNET request = response.request.get();
    {
        ExclusiveLock hold(lock_);
        currentRequest_ = request;
    }
    // A Cancel that came just before the request was published could not
    // close it; without this check the request would run to its timeouts.
    if (cancelled()) {
        clearCurrent(request);
        errorCode = ERROR_WINHTTP_OPERATION_CANCELLED;
        errorText = L"Cancelled";
        return false;
    }
    std::wstring headers = L"Cache-Control: no-cache\r\n";
    if (range != 0) headers += formatText(L"Range: bytes=%llu-\r\n", range);
    if (!WinHttpSendRequest(request, headers.c_str(), static_cast<DWORD>(-1),
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request, nullptr)) {
        errorCode = GetLastError();
        clearCurrent(request);
        errorText = DescribeNetworkError(errorCode);
        return false;
    }
    readAnswerHeaders(response);
    return true;
}

bool HttpClient::getOnce(const std::wstring& url, std::string& body, std::wstring& errorText,
                         bool& retryable) {
    HttpResponse response(*this);
    DWORD code = 0;
    retryable = true;
    if (!SendRequest(url, 0, response, errorText, code)) return false;
    HINTERNET request = response.request.get();
    DWORD status = response.status;
    if (status != 200) {
        clearCurrent(request);
        errorText = formatText(L"The server answered %lu", status);
        retryable = status == 408 || status == 429 || status >= 500;
        return false;
    }
    body.clear();
    std::vector<char> piece(getPiece);
    for (;;) {
        DWORD read = 0;
        if (!WinHttpReadData(request, piece.data(), getPiece, &read)) {
            errorText = DescribeNetworkError(GetLastError());
            return false;
        }
        if (read == 0) {
            clearCurrent(request);
            // WinHTTP ends a body that the server closed cleanly before its
            // Content-Length without an error: a cut document would pass.
            if (response.hasContentLength && body.size() < response.contentLength) {
                errorText = formatText(L"The connection closed early (%llu of %llu bytes)",
                                       static_cast<unsigned long long>(body.size()),
                                       static_cast<unsigned long long>(response.contentLength));
                return false;
            }
            return true;
        }
        body.append(piece.data(), read);
        if (body.size() > getLimit) {
            // A document this large is no release document; asking again
            // would only bring the same answer.
            errorText = L"The answer was too large";
            retryable = false;
            return false;
        }
    }
}

bool HttpClient::Get(const std::wstring& url, std::string& body, std::wstring& errorText) {
    if (cancelled()) {
        errorText = L"Cancelled";
        return false;
    }
    for (int attempt = 1;; ++attempt) {
        bool retryable = false;
        if (getOnce(url, body, errorText, retryable)) return true;
        logWarn(L"GET %ls failed (attempt %d): %ls", url.c_str(), attempt, errorText.c_str());
        if (!retryable || attempt >= 3 || cancelled()) return false;
        if (pause(schedule_.getPauses[attempt - 1]) || cancelled()) {
            errorText = L"Cancelled";
            return false;
        }
    }
}

}  // namespace qv
