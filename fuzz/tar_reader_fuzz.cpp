// Feeds arbitrary bytes, cut into pieces of arbitrary sizes, into the tar
// reader. Aborts when the reader lets the sink see an unsafe path, breaks
// the call order, passes more or fewer bytes than an entry declared, keeps
// calling the sink after it failed, or behaves differently when the same
// bytes arrive in one piece.
#include "setup/unpack/tar_reader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "tar_reader_fuzz: %s\n", what);
        std::abort();
    }
}

class CheckingSink final : public qv::TarSink {
public:
    std::vector<std::wstring> events;
    bool stopped = false;

    bool MakeDirectory(const std::wstring& path) override {
        check(!inFile_ && !stopped, "folder inside a file or after a failure");
        checkPath(path);
        events.push_back(L"d" + path);
        return answer();
    }
    bool BeginFile(const std::wstring& path, uint64_t size) override {
        check(!inFile_ && !stopped, "file inside a file or after a failure");
        checkPath(path);
        inFile_ = true;
        expected_ = size;
        received_ = 0;
        events.push_back(L"f" + path + L" " + std::to_wstring(size));
        return answer();
    }
    bool Write(const uint8_t* bytes, size_t length) override {
        check(inFile_ && !stopped && bytes && length > 0, "write outside a file");
        received_ += length;
        check(received_ <= expected_, "more data than the entry declared");
        // Pieces change how many Write calls there are, so a refusal here
        // goes by bytes, which both ways of feeding reach alike.
        written_ += length;
        if (refuseAfterBytes != 0 && written_ >= refuseAfterBytes) {
            stopped = true;
            return false;
        }
        return true;
    }
    bool EndFile() override {
        check(inFile_ && !stopped, "end outside a file");
        check(received_ == expected_, "file ended before its declared size");
        inFile_ = false;
        events.push_back(L"e");
        return answer();
    }
    // Refuse the folder, file or end call number refuseAt, or the write that
    // reaches refuseAfterBytes in all (0: never), to exercise the stop.
    unsigned refuseAt = 0;
    uint64_t refuseAfterBytes = 0;

private:
    // A rule of its own, not safeRelativePath: the fuzzer guards that
    // function and must not judge its output by it.
    static void checkPath(const std::wstring& path) {
        check(!path.empty() && path[0] != L'\\', "empty or rooted path reached the sink");
        check(path.find_first_of(L":/") == std::wstring::npos, "':' or '/' reached the sink");
        for (wchar_t c : path) check(c >= 0x20, "control character reached the sink");
        size_t start = 0;
        for (;;) {
            size_t end = path.find(L'\\', start);
            std::wstring part = path.substr(start, end == std::wstring::npos ? end : end - start);
            check(!part.empty() && part != L"." && part != L"..", "empty, . or .. part");
            check(part.back() != L'.' && part.back() != L' ', "part ending in a dot or space");
            if (end == std::wstring::npos) break;
            start = end + 1;
        }
    }
    bool answer() {
        if (++calls_ == refuseAt) {
            stopped = true;
            return false;
        }
        return true;
    }
    bool inFile_ = false;
    uint64_t expected_ = 0;
    uint64_t received_ = 0;
    uint64_t written_ = 0;
    unsigned calls_ = 0;
};

struct Run {
    std::vector<std::wstring> events;
    std::wstring error;
    bool ok;
    qv::TarState state;
};

Run feed(const uint8_t* data, size_t size, uint32_t seed, unsigned refuseAt) {
    CheckingSink sink;
    sink.refuseAt = refuseAt;
    sink.refuseAfterBytes = refuseAt * 100;
    qv::TarReader reader(sink);
    bool ok = true;
    size_t pos = 0;
    while (pos < size && ok) {
        size_t piece = size - pos;
        if (seed != 0) {
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            // Mostly small pieces, sometimes up to a few blocks.
            piece = std::min<size_t>(piece, (seed & 0x100) ? 1 + seed % 2048 : 1 + seed % 7);
        }
        ok = reader.Feed(data + pos, piece);
        pos += piece;
    }
    if (!ok) {
        check(!reader.Feed(data, size), "Feed went on after a failure");
        check(reader.error().empty() == sink.stopped, "error text and sink failure disagree");
    }
    return {sink.events, reader.error(), ok, reader.state()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    uint32_t seed = (static_cast<uint32_t>(data[0]) << 8 | data[1]) | 1u;
    unsigned refuseAt = data[0] % 16 == 0 ? 1 + data[1] % 8 : 0;
    data += 2;
    size -= 2;
    Run whole = feed(data, size, 0, refuseAt);
    Run pieces = feed(data, size, seed, refuseAt);
    check(whole.ok == pieces.ok && whole.error == pieces.error && whole.state == pieces.state,
          "outcome depends on the piece sizes");
    check(whole.events == pieces.events, "sink calls depend on the piece sizes");
    return 0;
}
