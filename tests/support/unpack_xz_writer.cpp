#include "tests/support/unpack_xz_writer.h"

#include <cstdint>

namespace qv::test {
namespace {

uint32_t crc32(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void putLe32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void putVarint(std::string& out, uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

void padToFour(std::string& out, size_t counted) {
    while (counted % 4 != 0) {
        out.push_back('\0');
        ++counted;
    }
}

// LZMA2 chunks that hold the bytes uncompressed, at most 64 KiB each.
std::string storedChunks(const std::string& data) {
    std::string out;
    for (size_t pos = 0; pos < data.size(); pos += 65536) {
        size_t size = data.size() - pos < 65536 ? data.size() - pos : 65536;
        out.push_back(pos == 0 ? 0x01 : 0x02);
        out.push_back(static_cast<char>((size - 1) >> 8));
        out.push_back(static_cast<char>((size - 1) & 0xFF));
        out.append(data, pos, size);
    }
    out.push_back('\0');
    return out;
}

}  // namespace

std::string xzStored(const std::string& data, XzCheck check) {
    const std::string flags{'\0', check == XzCheck::Crc32 ? '\x01' : '\0'};
    std::string out("\xFD" "7zXZ", 5);
    out.push_back('\0');
    out += flags;
    putLe32(out, crc32(flags));

    std::string blockHeader{'\x02', '\0', '\x21', '\x01', '\x10', '\0', '\0', '\0'};
    putLe32(blockHeader, crc32(blockHeader));
    std::string chunks = storedChunks(data);
    out += blockHeader;
    out += chunks;
    padToFour(out, blockHeader.size() + chunks.size());
    size_t checkSize = 0;
    if (check == XzCheck::Crc32) {
        putLe32(out, crc32(data));
        checkSize = 4;
    }

    std::string index(1, '\0');
    putVarint(index, 1);
    putVarint(index, blockHeader.size() + chunks.size() + checkSize);
    putVarint(index, data.size());
    padToFour(index, index.size());
    putLe32(index, crc32(index));
    out += index;

    std::string footer;
    putLe32(footer, static_cast<uint32_t>(index.size() / 4 - 1));
    footer += flags;
    putLe32(out, crc32(footer));
    out += footer;
    out += "YZ";
    return out;
}

}  // namespace qv::test
