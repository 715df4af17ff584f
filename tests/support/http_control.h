// Test-only client of the local release server's control API: scripted
// faults per path, a reset, and the log of the requests it answered.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv::test {

struct RecordedRequest {
    std::string method;
    std::string path;
    std::string query;
    std::string range;  // the Range header; empty when none was sent
    bool hasRange = false;
    int64_t status = 0;
    int64_t bytesSent = 0;
    std::string userAgent;
    std::string cacheControl;
};

class ServerControl {
public:
    // Talks to the plain HTTP port named by QV_TEST_HTTP_URL.
    ServerControl();

    // False when the test does not run under the server wrapper.
    bool available() const { return !baseUrl_.empty(); }

    // Clears every fault and the request log. False when the server did not
    // answer 200.
    bool reset();
    // Each later request to path (query ignored) takes the next fault of
    // faultsJson, a JSON array of fault objects; with repeatLast the last
    // one stays in force.
    bool setFaults(const std::string& path, const std::string& faultsJson, bool repeatLast = false);
    // The requests since the last reset, oldest first.
    std::vector<RecordedRequest> requests();
    // Only the requests whose path equals path.
    std::vector<RecordedRequest> requestsFor(const std::string& path);

private:
    bool post(const std::wstring& path, const std::string& body, std::string* answer);
    bool get(const std::wstring& path, std::string& answer);
    bool send(const wchar_t* verb, const std::wstring& path, const std::string& body,
              std::string* answer);

    std::wstring baseUrl_;
};

}  // namespace qv::test
