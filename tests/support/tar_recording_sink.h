// A TarSink that writes down what the reader asked of it, for reader tests.
#pragma once

#include "setup/unpack/tar_reader.h"

#include "foundation/text.h"

#include <string>
#include <vector>

namespace qv::test {

class RecordingSink final : public TarSink {
public:
    // One line per call: "dir PATH", "file PATH SIZE", "data BYTES" (the
    // bytes of one file joined, written when the file ends), "end".
    std::vector<std::string> events;
    // The call that answers false: "dir", "file", "write", "end" or empty.
    std::string refuse;
    size_t writeCalls = 0;

    bool MakeDirectory(const std::wstring& path) override {
        events.push_back("dir " + toUtf8(path));
        return refuse != "dir";
    }
    bool BeginFile(const std::wstring& path, uint64_t size) override {
        events.push_back("file " + toUtf8(path) + " " + std::to_string(size));
        data_.clear();
        return refuse != "file";
    }
    bool Write(const uint8_t* bytes, size_t length) override {
        ++writeCalls;
        data_.append(reinterpret_cast<const char*>(bytes), length);
        return refuse != "write";
    }
    bool EndFile() override {
        if (!data_.empty()) events.push_back("data " + data_);
        events.push_back("end");
        return refuse != "end";
    }

private:
    std::string data_;
};

}  // namespace qv::test
