// What release tests need from the local release server: its addresses
// (from the wrapper's environment) and files published into its root.
#pragma once

#include <cstdint>
#include <string>

namespace qv::test {

struct ReleaseServer {
    std::wstring httpUrl;       // http://127.0.0.1:P
    std::wstring httpsUrl;      // https://localhost:P2, trusted test CA
    std::wstring untrustedUrl;  // https://localhost:P3, CA unknown to Windows
    std::wstring root;          // the served folder, as a Windows path (Z:\...)
    bool available() const { return !httpUrl.empty() && !root.empty(); }
};

// Read once from QV_TEST_HTTP_URL, QV_TEST_HTTPS_URL,
// QV_TEST_HTTPS_UNTRUSTED_URL and QV_TEST_RELEASE_ROOT.
const ReleaseServer& releaseServer();

// Writes bytes to root + "/" + relative (slashes allowed), making folders.
void publishFile(const std::string& relative, const std::string& bytes);

// Bytes that differ from one seed to the next and never repeat in a way a
// misplaced range could hide.
std::string patternBytes(size_t size, uint32_t seed);

// SHA-256 of bytes as 64 lower-case hex digits (CNG, independent of the
// file hashing under test).
std::string sha256Hex(const std::string& bytes);

struct ManifestFields {
    std::string schema = "1";  // raw JSON text; empty leaves the member out
    std::string version;       // JSON string contents
    std::string payload = "QuorvelAI-win-x64.tar.xz";
    std::string payloadSha256;
    std::string payloadSize = "1";   // raw JSON text
    std::string unpackedSize = "1";
    std::string longestPath = "10";
    std::string deltas;  // raw JSON text; empty leaves the member out
};

// A manifest document; each raw member is written as given.
std::string manifestJson(const ManifestFields& fields);

}  // namespace qv::test
