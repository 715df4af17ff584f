// Writes tar archives with chosen header fields, for tests that need damaged
// or hostile archives no real tool would make.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv::test {

// One 512-byte header. Fields left at their defaults give a valid ustar
// header; the overrides write exactly what a test asks for.
struct TarHeader {
    std::string name;
    uint64_t size = 0;
    char type = '0';
    std::string prefix;
    std::string magic = "ustar";  // written with version "00"
    // When set, the size field holds this text instead of the octal size.
    bool rawSize = false;
    std::string sizeText;
    // Writes the size in base-256 (high bit set, value in the last 8 bytes).
    bool base256Size = false;
    enum class Checksum { Unsigned, Signed, Text } checksum = Checksum::Unsigned;
    std::string checksumText;  // the field's bytes for Checksum::Text
    int checksumDelta = 0;     // added to the computed sum
    // Single bytes placed last, after everything else (offset, value).
    std::vector<std::pair<size_t, uint8_t>> patches;
};

// A header with the usual fields set.
TarHeader tarHeader(const std::string& name, uint64_t size = 0, char type = '0',
                    const std::string& prefix = {});

// The 512 bytes of a header.
std::string tarHeaderBlock(const TarHeader& header);

class TarBuilder {
public:
    // A header, then data padded to the block size.
    TarBuilder& entry(const TarHeader& header, const std::string& data);
    TarBuilder& file(const std::string& name, const std::string& data);
    TarBuilder& folder(const std::string& name);
    // A GNU 'L' record naming the next entry (NUL added as GNU tar does).
    TarBuilder& longName(const std::string& name);
    // A pax 'x' (or 'g') record with the given body, written as it stands.
    TarBuilder& paxBody(const std::string& body, char type = 'x');
    // A pax 'x' record holding one "path" record with a correct length.
    TarBuilder& paxPath(const std::string& path);
    // Raw bytes (a zero block, trailing junk).
    TarBuilder& raw(const std::string& bytes);
    TarBuilder& zeroBlock();
    // The two zero blocks that end an archive.
    TarBuilder& end();

    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// "LEN key=value\n" with LEN counting the whole record.
std::string paxRecord(const std::string& key, const std::string& value);

}  // namespace qv::test
