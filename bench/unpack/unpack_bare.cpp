// unpack-bare.exe PAYLOAD FOLDER: the least an unpack of a release payload
// can do under Wine, as a yardstick for the setup's own unpack. It reads the
// .tar.xz in 1 MiB pieces, decodes it with the LZMA SDK into a 4 MiB buffer
// and writes each file with CreateFileW/WriteFile into FOLDER (which must
// exist). The tar walk knows only what the release tool writes: ustar
// headers (name and prefix), pax 'x' records for the path, folders and
// regular files; it checks no sizes, names or checksums.
// Prints "unpack-bare BYTES bytes FILES files MS ms MBPS MB/s"; exit 1 on
// failure.
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include "7zCrc.h"
#include "Alloc.h"
#include "Xz.h"
#include "XzCrc64.h"
}

namespace {

constexpr size_t inputSize = 1 << 20;
constexpr size_t outputSize = 4 << 20;
constexpr size_t block = 512;

double nowMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

uint64_t octal(const char* field, size_t length) {
    uint64_t value = 0;
    for (size_t i = 0; i < length && field[i] >= '0' && field[i] <= '7'; ++i) value = value * 8 + (field[i] - '0');
    return value;
}

std::string cString(const char* field, size_t length) { return std::string(field, strnlen(field, length)); }

// The "path" value of pax records "LEN path=VALUE\n"; empty when absent.
std::string paxPath(const std::string& records) {
    size_t at = 0;
    std::string path;
    while (at < records.size()) {
        size_t space = records.find(' ', at);
        if (space == std::string::npos) break;
        size_t length = std::strtoull(records.c_str() + at, nullptr, 10);
        if (length == 0 || at + length > records.size()) break;
        std::string record = records.substr(space + 1, at + length - space - 2);
        if (record.compare(0, 5, "path=") == 0) path = record.substr(5);
        at += length;
    }
    return path;
}

class TarWalk {
public:
    explicit TarWalk(std::wstring folder) : folder_(std::move(folder)) {}

    bool feed(const uint8_t* bytes, size_t length) {
        while (length > 0) {
            if (dataLeft_ > 0) {
                size_t take = static_cast<size_t>(std::min<uint64_t>(dataLeft_, length));
                if (!takeData(bytes, take)) return false;
                bytes += take;
                length -= take;
                dataLeft_ -= take;
                if (dataLeft_ == 0 && !endEntry()) return false;
                continue;
            }
            if (padLeft_ > 0) {
                size_t take = std::min(padLeft_, length);
                bytes += take;
                length -= take;
                padLeft_ -= take;
                continue;
            }
            size_t take = std::min(block - headerFill_, length);
            std::memcpy(header_ + headerFill_, bytes, take);
            headerFill_ += take;
            bytes += take;
            length -= take;
            if (headerFill_ == block) {
                headerFill_ = 0;
                if (!startEntry()) return false;
            }
        }
        return true;
    }

    bool finished() const { return ended_; }
    uint64_t bytes() const { return bytes_; }
    uint64_t files() const { return files_; }

private:
    bool startEntry() {
        if (ended_) return true;
        if (header_[0] == 0) {
            ended_ = true;
            return true;
        }
        uint64_t size = octal(header_ + 124, 12);
        char type = header_[156];
        std::string name = cString(header_, 100);
        std::string prefix = cString(header_ + 345, 155);
        if (!prefix.empty()) name = prefix + "/" + name;
        if (!nextPath_.empty()) name = std::move(nextPath_);
        nextPath_.clear();
        kind_ = type;
        if (type == 'x' || type == 'g') {
            records_.clear();
        } else if (type == '5') {
            std::wstring path = target(name);
            if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                return failed(L"CreateDirectoryW", path);
        } else if (type == '0' || type == 0) {
            std::wstring path = target(name);
            file_.reset(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file_) return failed(L"CreateFileW", path);
            ++files_;
        }
        dataLeft_ = size;
        padLeft_ = static_cast<size_t>((block - size % block) % block);
        return size > 0 || endEntry();
    }

    bool takeData(const uint8_t* bytes, size_t length) {
        if (kind_ == 'x' || kind_ == 'g') {
            records_.append(reinterpret_cast<const char*>(bytes), length);
        } else if (file_) {
            DWORD written = 0;
            if (!WriteFile(file_.get(), bytes, static_cast<DWORD>(length), &written, nullptr) || written != length)
                return failed(L"WriteFile", L"");
            bytes_ += length;
        }
        return true;
    }

    bool endEntry() {
        if (kind_ == 'x') nextPath_ = paxPath(records_);
        file_.reset();
        return true;
    }

    std::wstring target(const std::string& name) {
        std::wstring path = folder_ + L"\\" + qv::fromUtf8(name);
        for (wchar_t& c : path)
            if (c == L'/') c = L'\\';
        while (!path.empty() && path.back() == L'\\') path.pop_back();
        return qv::longPath(path);
    }

    bool failed(const wchar_t* call, const std::wstring& path) {
        std::printf("unpack-bare: %ls failed (%lu) %ls\n", call, GetLastError(), path.c_str());
        return false;
    }

    std::wstring folder_;
    char header_[block] = {};
    size_t headerFill_ = 0;
    uint64_t dataLeft_ = 0;
    size_t padLeft_ = 0;
    char kind_ = 0;
    std::string records_;
    std::string nextPath_;
    qv::FileHandle file_;
    bool ended_ = false;
    uint64_t bytes_ = 0;
    uint64_t files_ = 0;
};

bool unpack(const std::wstring& payload, TarWalk& walk) {
    qv::FileHandle file(CreateFileW(qv::longPath(payload).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
        std::printf("unpack-bare: cannot open %ls (%lu)\n", payload.c_str(), GetLastError());
        return false;
    }
    CrcGenerateTable();
    Crc64GenerateTable();
    CXzUnpacker decoder;
    XzUnpacker_Construct(&decoder, &g_Alloc);
    XzUnpacker_Init(&decoder);
    std::vector<uint8_t> input(inputSize), output(outputSize);
    size_t inPos = 0, inEnd = 0;
    bool atEnd = false, ok = true;
    while (ok) {
        if (inPos == inEnd && !atEnd) {
            DWORD read = 0;
            if (!ReadFile(file.get(), input.data(), static_cast<DWORD>(input.size()), &read, nullptr)) {
                std::printf("unpack-bare: read failed (%lu)\n", GetLastError());
                ok = false;
                break;
            }
            inPos = 0;
            inEnd = read;
            atEnd = read == 0;
        }
        SizeT outLength = output.size();
        SizeT inLength = inEnd - inPos;
        ECoderStatus status = CODER_STATUS_NOT_SPECIFIED;
        SRes result = XzUnpacker_Code(&decoder, output.data(), &outLength, input.data() + inPos, &inLength,
                                      atEnd, CODER_FINISH_ANY, &status);
        inPos += inLength;
        if (result != SZ_OK) {
            std::printf("unpack-bare: XZ error %d\n", result);
            ok = false;
            break;
        }
        if (outLength > 0 && !walk.feed(output.data(), outLength)) ok = false;
        if (atEnd && inPos == inEnd && outLength == 0) {
            if (!XzUnpacker_IsStreamWasFinished(&decoder)) {
                std::printf("unpack-bare: the XZ stream is cut short\n");
                ok = false;
            }
            break;
        }
    }
    XzUnpacker_Free(&decoder);
    if (ok && !walk.finished()) {
        std::printf("unpack-bare: the tar archive has no end\n");
        ok = false;
    }
    return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::printf("usage: unpack-bare.exe PAYLOAD FOLDER\n");
        return 3;
    }
    double start = nowMs();
    TarWalk walk(argv[2]);
    if (!unpack(argv[1], walk)) return 1;
    double ms = nowMs() - start;
    double mbps = ms > 0 ? static_cast<double>(walk.bytes()) / 1048576.0 / (ms / 1000.0) : 0;
    std::printf("unpack-bare %llu bytes %llu files %.0f ms %.1f MB/s\n",
                static_cast<unsigned long long>(walk.bytes()), static_cast<unsigned long long>(walk.files()), ms,
                mbps);
    return 0;
}
