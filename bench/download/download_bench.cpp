// download-bench.exe MODE ...: times one transfer or one hash of a file.
//   client URL FILE SIZE  HttpClient::Download into FILE (deleted first)
//   bare URL FILE         a plain WinHTTP read loop, same 256 KiB buffer
//   hash FILE             HashFileSha256
//   cng FILE              a plain CNG SHA-256 loop over 1 MiB reads
// Prints "MODE BYTES bytes MS ms MBPS MB/s [HASH]"; exit 1 on failure.
#include "foundation/crypto_handles.h"
#include "foundation/files.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "setup/core/options.h"
#include "setup/release/http_client.h"
#include "setup/release/sha256_file.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

double nowMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

int report(const wchar_t* mode, uint64_t bytes, double ms, const std::string& hash = {}) {
    double mbps = ms > 0 ? static_cast<double>(bytes) / 1048576.0 / (ms / 1000.0) : 0;
    std::printf("%ls %llu bytes %.0f ms %.1f MB/s %s\n", mode, static_cast<unsigned long long>(bytes),
                ms, mbps, hash.c_str());
    return 0;
}

bool bareDownload(const std::wstring& url, const std::wstring& path, uint64_t& bytes) {
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
    qv::WinHttpHandle session(WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                          WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    qv::WinHttpHandle connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    qv::WinHttpHandle request(WinHttpOpenRequest(connection.get(), L"GET", object.c_str(), nullptr,
                                                 WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
    if (!request || !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                        WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr))
        return false;
    qv::FileHandle file(CreateFileW(qv::longPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    std::vector<char> buffer(262144);
    for (;;) {
        DWORD read = 0, written = 0;
        if (!WinHttpReadData(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read))
            return false;
        if (read == 0) return true;
        if (!WriteFile(file.get(), buffer.data(), read, &written, nullptr) || written != read)
            return false;
        bytes += read;
    }
}

std::string bareHash(const std::wstring& path, uint64_t& bytes) {
    qv::FileHandle file(CreateFileW(qv::longPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    qv::BcryptAlgorithm algorithm;
    qv::BcryptHash hash;
    if (!file || !BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(algorithm.put(),
                                                             BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0)))
        return {};
    std::vector<unsigned char> piece(1048576);
    DWORD read = 0;
    while (ReadFile(file.get(), piece.data(), static_cast<DWORD>(piece.size()), &read, nullptr) &&
           read > 0) {
        BCryptHashData(hash.get(), piece.data(), read, 0);
        bytes += read;
    }
    unsigned char digest[32];
    BCryptFinishHash(hash.get(), digest, sizeof(digest), 0);
    return qv::toHex(digest, sizeof(digest));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring mode = argc > 1 ? argv[1] : L"";
    double start = nowMs();
    if (mode == L"client" && argc == 5) {
        DeleteFileW(qv::longPath(argv[3]).c_str());
        qv::HttpClient client(qv::userAgent);
        std::wstring error;
        uint64_t bytes = 0;
        auto progress = [&bytes](uint64_t done, uint64_t) {
            bytes = done;
            return true;
        };
        if (client.Download(argv[2], argv[3], std::wcstoull(argv[4], nullptr, 10), progress,
                            error) != qv::DownloadOutcome::Complete) {
            std::printf("client failed: %ls\n", error.c_str());
            return 1;
        }
        return report(L"client", bytes, nowMs() - start);
    }
    if (mode == L"bare" && argc == 4) {
        uint64_t bytes = 0;
        if (!bareDownload(argv[2], argv[3], bytes)) return 1;
        return report(L"bare", bytes, nowMs() - start);
    }
    if (mode == L"hash" && argc == 3) {
        std::string hash = qv::HashFileSha256(argv[2]);
        if (hash.empty()) return 1;
        return report(L"hash", qv::fileSize(argv[2]), nowMs() - start, hash);
    }
    if (mode == L"cng" && argc == 3) {
        uint64_t bytes = 0;
        std::string hash = bareHash(argv[2], bytes);
        if (hash.empty()) return 1;
        return report(L"cng", bytes, nowMs() - start, hash);
    }
    std::printf("usage: download-bench.exe client URL FILE SIZE | bare URL FILE | hash FILE | cng FILE\n");
    return 3;
}
