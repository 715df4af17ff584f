#include "release_test_fixture.h"

#include "setup/core/options.h"

#include <windows.h>

namespace qv::test {
namespace {

class HttpGet : public ServerTest {};

// Catches a changed retry policy: the product waits 1 s and 3 s between
// document attempts and 2 to 30 s between download failures, six at most.
TEST(HttpClientDefaults, UsesTheProductSchedule) {
    HttpClient client(userAgent);
    EXPECT_EQ(client.schedule().getPauses[0], 1000u);
    EXPECT_EQ(client.schedule().getPauses[1], 3000u);
    const auto& pauses = client.schedule().downloadPauses;
    EXPECT_EQ(pauses[0], 2000u);
    EXPECT_EQ(pauses[1], 4000u);
    EXPECT_EQ(pauses[2], 8000u);
    EXPECT_EQ(pauses[3], 15000u);
    EXPECT_EQ(pauses[4], 30000u);
    EXPECT_EQ(client.maxDownloadFailures(), 6);
}

// Catches a document cut part-way (closed cleanly or reset) taken as the
// whole document, or not asked for again.
TEST_F(HttpGet, BodyDroppedPartWayIsAskedAgain) {
    for (const char* fault : {"{\"drop_after\":1000}", "{\"drop_after\":1000,\"reset\":true}"}) {
        std::string path = uniquePath("doc.json");
        std::string document = "{\"v\":\"" + std::string(50000, 'x') + "\"}";
        publishFile(path, document);
        ASSERT_TRUE(control.reset());
        ASSERT_TRUE(control.setFaults(path, std::string("[") + fault + "]"));
        HttpClient client(userAgent, shortSchedule());
        std::string body;
        std::wstring error;
        ASSERT_TRUE(client.Get(httpUrl(path), body, error)) << fault << " " << error;
        EXPECT_TRUE(body == document) << fault << ": " << body.size() << " bytes";
        EXPECT_EQ(control.requestsFor(path).size(), 2u) << fault;
    }
}

// Catches a missing retry, a fourth attempt, or pauses that are skipped.
TEST_F(HttpGet, TwoServerErrorsThenTheDocument) {
    std::string path = uniquePath("doc.json");
    publishFile(path, "{\"ok\":true}");
    ASSERT_TRUE(control.setFaults(path, "[{\"status\":503},{\"status\":503}]"));
    HttpClient client(userAgent, shortSchedule());
    std::string body;
    std::wstring error;
    ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(client.Get(httpUrl(path), body, error)) << error;
    ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_EQ(body, "{\"ok\":true}");
    EXPECT_EQ(control.requestsFor(path).size(), 3u);
    EXPECT_GE(elapsed, 100u + 300u - 20u);  // both pauses were waited
}

// Catches retries after the third attempt.
TEST_F(HttpGet, ThreeServerErrorsFail) {
    std::string path = uniquePath("doc.json");
    publishFile(path, "{}");
    ASSERT_TRUE(control.setFaults(path, "[{\"status\":500}]", true));
    HttpClient client(userAgent, shortSchedule());
    std::string body;
    std::wstring error;
    EXPECT_FALSE(client.Get(httpUrl(path), body, error));
    EXPECT_EQ(error, L"The server answered 500");
    EXPECT_EQ(control.requestsFor(path).size(), 3u);
}

struct StatusCase {
    int status;
    size_t attempts;  // requests made before giving up or succeeding
};

class HttpGetStatus : public HttpGet, public testing::WithParamInterface<StatusCase> {};

// Catches retrying answers that will not change (404, 403) or giving up on
// ones that may (408, 429).
TEST_P(HttpGetStatus, RetriesOnlyPassingTroubles) {
    std::string path = uniquePath("doc.json");
    publishFile(path, "{}");
    ASSERT_TRUE(control.setFaults(path, "[{\"status\":" + std::to_string(GetParam().status) + "}]"));
    HttpClient client(userAgent, shortSchedule());
    std::string body;
    std::wstring error;
    bool ok = client.Get(httpUrl(path), body, error);
    EXPECT_EQ(control.requestsFor(path).size(), GetParam().attempts);
    if (GetParam().attempts == 1) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(error, formatText(L"The server answered %d", GetParam().status));
    } else {
        EXPECT_TRUE(ok) << error;
    }
}

INSTANTIATE_TEST_SUITE_P(Statuses, HttpGetStatus,
                         testing::Values(StatusCase{404, 1}, StatusCase{403, 1},
                                         StatusCase{206, 1}, StatusCase{429, 2},
                                         StatusCase{408, 2}, StatusCase{502, 2}));

// Catches a body limit that is off by one or not enforced, and a too-large
// answer that is asked for again.
TEST_F(HttpGet, FourMebibytesAtMost) {
    std::string exact = uniquePath("exact.bin");
    std::string over = uniquePath("over.bin");
    publishFile(exact, patternBytes(4194304, 1));
    publishFile(over, patternBytes(4194305, 2));
    HttpClient client(userAgent, shortSchedule());
    std::string body;
    std::wstring error;
    EXPECT_TRUE(client.Get(httpUrl(exact), body, error)) << error;
    EXPECT_EQ(body.size(), 4194304u);
    EXPECT_FALSE(client.Get(httpUrl(over), body, error));
    EXPECT_EQ(error, L"The answer was too large");
    EXPECT_EQ(control.requestsFor(over).size(), 1u);
}

// Catches requests without the headers caches and the server rely on, and
// a query string lost when the URL is split.
TEST_F(HttpGet, SendsUserAgentNoCacheAndQuery) {
    std::string path = uniquePath("doc.json");
    publishFile(path, "[]");
    HttpClient client(userAgent, shortSchedule());
    std::string body;
    std::wstring error;
    ASSERT_TRUE(client.Get(httpUrl(path) + L"?t=42", body, error)) << error;
    auto requests = control.requestsFor(path);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].query, "t=42");
    EXPECT_EQ(requests[0].userAgent, "QuorvelAI-Setup/1.0.0");
    EXPECT_EQ(requests[0].cacheControl, "no-cache");
    EXPECT_FALSE(requests[0].hasRange);
}

// Catches a connection failure reported without the user-facing sentence.
TEST_F(HttpGet, ClosedPortIsAConnectionError) {
    HttpClient client(userAgent, shortSchedule());
    std::string body;
    std::wstring error;
    // Port 9 (discard) has no listener on a test machine.
    EXPECT_FALSE(client.Get(L"http://127.0.0.1:9/versions.json", body, error));
    EXPECT_EQ(error.rfind(L"Could not connect to the download server.", 0), 0u) << error;
}

// Catches a URL that cannot be split reaching WinHTTP as a request.
TEST_F(HttpGet, BadAddress) {
    HttpClient client(userAgent, shortSchedule());
    std::string body;
    std::wstring error;
    EXPECT_FALSE(client.Get(L"not a url", body, error));
    EXPECT_EQ(error, L"Bad address: not a url");
}

// Catches a cancelled client that still goes to the network.
TEST_F(HttpGet, AfterCancelNothingIsSent) {
    std::string path = uniquePath("doc.json");
    publishFile(path, "{}");
    HttpClient client(userAgent, shortSchedule());
    client.Cancel();
    client.Cancel();  // a second call is harmless
    std::string body;
    std::wstring error;
    EXPECT_FALSE(client.Get(httpUrl(path), body, error));
    EXPECT_EQ(error, L"Cancelled");
    EXPECT_TRUE(control.requestsFor(path).empty());
}

// Catches a Cancel that cannot end a pause between attempts.
TEST_F(HttpGet, CancelEndsThePause) {
    std::string path = uniquePath("doc.json");
    publishFile(path, "{}");
    ASSERT_TRUE(control.setFaults(path, "[{\"status\":503}]", true));
    RetrySchedule slow;
    slow.getPauses = {{30000, 30000}};
    HttpClient client(userAgent, slow);
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* c) -> DWORD {
            Sleep(500);
            static_cast<HttpClient*>(c)->Cancel();
            return 0;
        },
        &client, 0, nullptr);
    KernelHandle canceller(thread);
    std::string body;
    std::wstring error;
    ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(client.Get(httpUrl(path), body, error));
    EXPECT_LT(GetTickCount64() - start, 10000u);
    EXPECT_EQ(error, L"Cancelled");
    WaitForSingleObject(canceller.get(), INFINITE);
}

// Catches HTTPS that fails against a server the test prefix trusts.
TEST_F(HttpGet, HttpsWithATrustedCertificate) {
    if (releaseServer().httpsUrl.empty()) GTEST_SKIP() << "no HTTPS port";
    std::string path = uniquePath("doc.json");
    publishFile(path, "{\"secure\":1}");
    HttpClient client(userAgent, shortSchedule());
    std::string body;
    std::wstring error;
    ASSERT_TRUE(client.Get(releaseServer().httpsUrl + fromUtf8(path), body, error)) << error;
    EXPECT_EQ(body, "{\"secure\":1}");
}

}  // namespace
}  // namespace qv::test
