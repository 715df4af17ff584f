#include "tests/support/release_server.h"

#include "foundation/crypto_handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "tests/support/temp_folder.h"

namespace qv::test {
namespace {

// The wrapper names a Linux path; Wine shows the Linux root as Z:.
std::wstring windowsPath(const std::wstring& linuxPath) {
    if (linuxPath.empty()) return {};
    std::wstring path = L"Z:" + linuxPath;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

void addMember(std::string& json, const char* name, const std::string& raw) {
    if (raw.empty()) return;
    if (json.size() > 1) json += ", ";
    json += std::string("\"") + name + "\": " + raw;
}

}  // namespace

const ReleaseServer& releaseServer() {
    static const ReleaseServer server = [] {
        ReleaseServer s;
        s.httpUrl = environmentVariable(L"QV_TEST_HTTP_URL");
        s.httpsUrl = environmentVariable(L"QV_TEST_HTTPS_URL");
        s.untrustedUrl = environmentVariable(L"QV_TEST_HTTPS_UNTRUSTED_URL");
        s.root = windowsPath(environmentVariable(L"QV_TEST_RELEASE_ROOT"));
        return s;
    }();
    return server;
}

void publishFile(const std::string& relative, const std::string& bytes) {
    std::wstring path = releaseServer().root;
    for (wchar_t c : fromUtf8(relative)) path.push_back(c == L'/' ? L'\\' : c);
    makeFolders(parentFolder(path));
    writeFile(path, bytes);
}

std::string patternBytes(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}

std::string sha256Hex(const std::string& bytes) {
    BcryptAlgorithm algorithm;
    BcryptHash hash;
    unsigned char digest[32] = {};
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM,
                                                    nullptr, 0)) ||
        !BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0)) ||
        !BCRYPT_SUCCESS(BCryptHashData(hash.get(),
                                       reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                                       static_cast<ULONG>(bytes.size()), 0)) ||
        !BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), digest, sizeof(digest), 0)))
        return {};
    return toHex(digest, sizeof(digest));
}

std::string manifestJson(const ManifestFields& fields) {
    std::string json = "{";
    addMember(json, "schema", fields.schema);
    addMember(json, "version", "\"" + fields.version + "\"");
    addMember(json, "payload", "\"" + fields.payload + "\"");
    addMember(json, "payloadSha256", "\"" + fields.payloadSha256 + "\"");
    addMember(json, "payloadSize", fields.payloadSize);
    addMember(json, "unpackedSize", fields.unpackedSize);
    addMember(json, "longestPath", fields.longestPath);
    addMember(json, "deltas", fields.deltas);
    return json + "}";
}

}  // namespace qv::test
