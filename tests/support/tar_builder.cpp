#include "tests/support/tar_builder.h"

#include <cstdio>
#include <cstring>

namespace qv::test {
namespace {

void put(std::string& block, size_t offset, size_t size, const std::string& text) {
    std::memcpy(&block[offset], text.data(), text.size() < size ? text.size() : size);
}

std::string octal(uint64_t value, size_t digits) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*llo", static_cast<int>(digits),
                  static_cast<unsigned long long>(value));
    return text;
}

void writeChecksum(std::string& block, const TarHeader& header) {
    if (header.checksum == TarHeader::Checksum::Text) {
        put(block, 148, 8, std::string(8, '\0'));
        put(block, 148, 8, header.checksumText);
        return;
    }
    put(block, 148, 8, std::string(8, ' '));
    int64_t sum = 0;
    for (char c : block) {
        sum += header.checksum == TarHeader::Checksum::Signed ? static_cast<signed char>(c)
                                                              : static_cast<unsigned char>(c);
    }
    sum += header.checksumDelta;
    std::string text = octal(static_cast<uint64_t>(sum) & 07777777, 6);
    text.push_back('\0');
    text.push_back(' ');
    put(block, 148, 8, text);
}

}  // namespace

TarHeader tarHeader(const std::string& name, uint64_t size, char type, const std::string& prefix) {
    TarHeader header;
    header.name = name;
    header.size = size;
    header.type = type;
    header.prefix = prefix;
    return header;
}

std::string tarHeaderBlock(const TarHeader& header) {
    std::string block(512, '\0');
    put(block, 0, 100, header.name);
    put(block, 100, 8, "0000644");
    put(block, 108, 8, "0000000");
    put(block, 116, 8, "0000000");
    if (header.rawSize) {
        put(block, 124, 12, header.sizeText);
    } else if (header.base256Size) {
        block[124] = static_cast<char>(0x80);
        for (int i = 0; i < 8; ++i)
            block[128 + i] = static_cast<char>((header.size >> (8 * (7 - i))) & 0xFF);
    } else {
        put(block, 124, 12, octal(header.size, 11));
    }
    put(block, 136, 12, "14000000000");
    block[156] = header.type;
    if (!header.magic.empty()) {
        put(block, 257, 6, header.magic);
        put(block, 263, 2, "00");
    }
    put(block, 345, 155, header.prefix);
    for (const auto& patch : header.patches) block[patch.first] = static_cast<char>(patch.second);
    writeChecksum(block, header);
    return block;
}

TarBuilder& TarBuilder::entry(const TarHeader& header, const std::string& data) {
    bytes_ += tarHeaderBlock(header);
    bytes_ += data;
    bytes_.append((512 - data.size() % 512) % 512, '\0');
    return *this;
}

TarBuilder& TarBuilder::file(const std::string& name, const std::string& data) {
    TarHeader header;
    header.name = name;
    header.size = data.size();
    return entry(header, data);
}

TarBuilder& TarBuilder::folder(const std::string& name) {
    TarHeader header;
    header.name = name;
    header.type = '5';
    return entry(header, "");
}

TarBuilder& TarBuilder::longName(const std::string& name) {
    TarHeader header;
    header.name = "././@LongLink";
    header.type = 'L';
    header.size = name.size() + 1;
    return entry(header, name + std::string(1, '\0'));
}

TarBuilder& TarBuilder::paxBody(const std::string& body, char type) {
    TarHeader header;
    header.name = "PaxHeaders/entry";
    header.type = type;
    header.size = body.size();
    return entry(header, body);
}

TarBuilder& TarBuilder::paxPath(const std::string& path) { return paxBody(paxRecord("path", path)); }

TarBuilder& TarBuilder::raw(const std::string& bytes) {
    bytes_ += bytes;
    return *this;
}

TarBuilder& TarBuilder::zeroBlock() { return raw(std::string(512, '\0')); }

TarBuilder& TarBuilder::end() { return zeroBlock().zeroBlock(); }

std::string paxRecord(const std::string& key, const std::string& value) {
    std::string text = " " + key + "=" + value + "\n";
    size_t length = text.size() + 1;
    while (std::to_string(length).size() + text.size() != length) ++length;
    return std::to_string(length) + text;
}

}  // namespace qv::test
