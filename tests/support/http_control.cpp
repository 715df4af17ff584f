#include "tests/support/http_control.h"

#include "foundation/crypto_handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "setup/release/json.h"

#include <winhttp.h>

namespace qv::test {
namespace {

std::string headerValue(const JsonValue& headers, const char* name) {
    // Header names may arrive in any case.
    for (const auto& member : headers.members) {
        if (member.second.type != JsonType::String) continue;
        if (equalsIgnoreCase(fromUtf8(member.first), fromUtf8(name))) return member.second.text;
    }
    return {};
}

}  // namespace

ServerControl::ServerControl() : baseUrl_(environmentVariable(L"QV_TEST_HTTP_URL")) {}

bool ServerControl::send(const wchar_t* verb, const std::wstring& path, const std::string& body,
                         std::string* answer) {
    if (baseUrl_.empty()) return false;
    std::wstring url = baseUrl_ + path;
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
    WinHttpHandle session(WinHttpOpen(L"qv-test-control", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                      WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return false;
    WinHttpHandle connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection) return false;
    WinHttpHandle request(WinHttpOpenRequest(connection.get(), verb, object.c_str(), nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    if (!request) return false;
    const wchar_t* headers = L"Content-Type: application/json\r\n";
    if (!WinHttpSendRequest(request.get(), headers, static_cast<DWORD>(-1),
                            const_cast<char*>(body.data()), static_cast<DWORD>(body.size()),
                            static_cast<DWORD>(body.size()), 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr))
        return false;
    DWORD status = 0;
    DWORD size = sizeof(status);
    WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    std::string text;
    char piece[16384];
    DWORD read = 0;
    while (WinHttpReadData(request.get(), piece, sizeof(piece), &read) && read > 0)
        text.append(piece, read);
    if (answer) *answer = text;
    return status == 200;
}

bool ServerControl::post(const std::wstring& path, const std::string& body, std::string* answer) {
    return send(L"POST", path, body, answer);
}

bool ServerControl::get(const std::wstring& path, std::string& answer) {
    return send(L"GET", path, std::string(), &answer);
}

bool ServerControl::reset() { return post(L"/__control/reset", "{}", nullptr); }

bool ServerControl::setFaults(const std::string& path, const std::string& faultsJson,
                              bool repeatLast) {
    std::string body = "{\"path\": \"" + path + "\", \"faults\": " + faultsJson +
                       ", \"repeat_last\": " + (repeatLast ? "true" : "false") + "}";
    return post(L"/__control/faults", body, nullptr);
}

std::vector<RecordedRequest> ServerControl::requests() {
    std::vector<RecordedRequest> list;
    std::string answer;
    if (!get(L"/__control/requests", answer)) return list;
    JsonValue document;
    if (!ParseJson(answer, document) || document.type != JsonType::Array) return list;
    for (const JsonValue& item : document.items) {
        RecordedRequest request;
        request.method = GetString(item, "method", "");
        request.path = GetString(item, "path", "");
        request.query = GetString(item, "query", "");
        const JsonValue* range = FindMember(item, "range");
        request.hasRange = range && range->type == JsonType::String;
        if (request.hasRange) request.range = range->text;
        request.status = GetInt(item, "status", 0);
        request.bytesSent = GetInt(item, "bytes_sent", 0);
        if (const JsonValue* headers = FindMember(item, "headers")) {
            request.userAgent = headerValue(*headers, "User-Agent");
            request.cacheControl = headerValue(*headers, "Cache-Control");
        }
        list.push_back(request);
    }
    return list;
}

std::vector<RecordedRequest> ServerControl::requestsFor(const std::string& path) {
    std::vector<RecordedRequest> matching;
    for (const RecordedRequest& request : requests())
        if (request.path == path) matching.push_back(request);
    return matching;
}

}  // namespace qv::test
