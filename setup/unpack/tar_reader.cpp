#include "tar_reader.h"

#include "safe_name.h"

#include "foundation/text.h"

#include <algorithm>
#include <cstring>

namespace qv {
namespace {

constexpr size_t blockSize = 512;
constexpr size_t nameOffset = 0, nameSize = 100;
constexpr size_t sizeOffset = 124, sizeSize = 12;
constexpr size_t checksumOffset = 148, checksumSize = 8;
constexpr size_t typeOffset = 156;
constexpr size_t magicOffset = 257;
constexpr size_t prefixOffset = 345, prefixSize = 155;

bool isFill(uint8_t c) { return c == ' ' || c == 0; }

// A numeric header field: octal text between optional spaces and NULs, or,
// when the first byte has its high bit set, a big-endian binary number in
// the field's last 8 bytes (the marker bit itself not counted).
bool parseNumber(const uint8_t* field, size_t size, uint64_t& value) {
    value = 0;
    if (field[0] & 0x80) {
        for (size_t i = size - 8; i < size; ++i) {
            uint8_t byte = (i == 0) ? static_cast<uint8_t>(field[i] & 0x7F) : field[i];
            value = (value << 8) | byte;
        }
        return true;
    }
    size_t i = 0;
    while (i < size && isFill(field[i])) ++i;
    while (i < size && field[i] >= '0' && field[i] <= '7') value = value * 8 + (field[i++] - '0');
    while (i < size && isFill(field[i])) ++i;
    return i == size;
}

uint64_t headerChecksum(const uint8_t* header) {
    uint64_t sum = 0;
    for (size_t i = 0; i < blockSize; ++i) {
        bool inField = i >= checksumOffset && i < checksumOffset + checksumSize;
        sum += inField ? 0x20u : header[i];
    }
    return sum;
}

std::string fieldText(const uint8_t* field, size_t size) {
    const uint8_t* end = static_cast<const uint8_t*>(std::memchr(field, 0, size));
    return std::string(reinterpret_cast<const char*>(field), end ? end - field : size);
}

// Zero bytes that pad an entry's data to the next block boundary.
uint64_t fillAfter(uint64_t size) { return (blockSize - size % blockSize) % blockSize; }

}  // namespace

TarReader::TarReader(TarSink& sink) : sink_(sink) {}

bool TarReader::Feed(const uint8_t* bytes, size_t length) {
    if (!error_.empty() || sinkFailed_) return false;
    while (length > 0) {
        size_t used = 0;
        bool ok = true;
        switch (state_) {
            case TarState::Header:
                used = feedHeader(bytes, length, ok);
                break;
            case TarState::FileData:
                used = feedFileData(bytes, length, ok);
                break;
            case TarState::SkipFill:
                used = static_cast<size_t>(std::min<uint64_t>(blockFill_, length));
                blockFill_ -= used;
                if (blockFill_ == 0) state_ = TarState::Header;
                break;
            case TarState::RecordBody:
                used = feedRecordBody(bytes, length, ok);
                break;
            case TarState::End:
                return true;
        }
        if (!ok) return false;
        bytes += used;
        length -= used;
    }
    return true;
}

size_t TarReader::feedHeader(const uint8_t* bytes, size_t length, bool& ok) {
    size_t used = std::min(length, blockSize - headerFill_);
    std::memcpy(header_ + headerFill_, bytes, used);
    headerFill_ += used;
    if (headerFill_ == blockSize) {
        headerFill_ = 0;
        ok = processHeader();
    }
    return used;
}

size_t TarReader::feedFileData(const uint8_t* bytes, size_t length, bool& ok) {
    size_t used = static_cast<size_t>(std::min<uint64_t>(remaining_, length));
    if (!sink_.Write(bytes, used)) {
        ok = sinkRefused();
        return used;
    }
    remaining_ -= used;
    if (remaining_ == 0) {
        if (!sink_.EndFile()) {
            ok = sinkRefused();
            return used;
        }
        afterData();
    }
    return used;
}

size_t TarReader::feedRecordBody(const uint8_t* bytes, size_t length, bool& ok) {
    size_t used = static_cast<size_t>(std::min<uint64_t>(remaining_, length));
    recordBody_.append(reinterpret_cast<const char*>(bytes), used);
    remaining_ -= used;
    if (remaining_ == 0) ok = processRecord();
    return used;
}

void TarReader::afterData() {
    state_ = blockFill_ > 0 ? TarState::SkipFill : TarState::Header;
}

bool TarReader::processHeader() {
    if (std::all_of(header_, header_ + blockSize, [](uint8_t c) { return c == 0; })) {
        if (++zeroBlocks_ == 2) state_ = TarState::End;
        return true;
    }
    zeroBlocks_ = 0;
    uint64_t checksum = 0;
    if (!parseNumber(header_ + checksumOffset, checksumSize, checksum) ||
        checksum != headerChecksum(header_))
        return fail(L"The payload is damaged (a tar header checksum is wrong).");
    uint64_t size = 0;
    if (!parseNumber(header_ + sizeOffset, sizeSize, size))
        return fail(L"The payload is damaged (bad entry size).");
    char type = static_cast<char>(header_[typeOffset]);
    if (type == 'L' || type == 'x' || type == 'g') return beginRecord(type, size);
    return processEntry(type, size);
}

bool TarReader::beginRecord(char type, uint64_t size) {
    if (size > maxTarRecordSize) return fail(L"The payload is damaged (oversized name record).");
    recordType_ = type;
    recordBody_.clear();
    remaining_ = size;
    blockFill_ = fillAfter(size);
    if (size > 0) {
        state_ = TarState::RecordBody;
        return true;
    }
    return processRecord();
}

bool TarReader::processRecord() {
    if (recordType_ == 'L') {
        size_t end = recordBody_.find_last_not_of('\0');
        pendingName_ = end == std::string::npos ? std::string() : recordBody_.substr(0, end + 1);
    } else if (recordType_ == 'x') {
        if (!parsePaxRecords()) return fail(L"The payload is damaged (bad pax record).");
    }
    recordBody_.clear();
    recordBody_.shrink_to_fit();
    afterData();
    return true;
}

// Records of the form "LEN KEY=VALUE\n", LEN counting the whole record.
bool TarReader::parsePaxRecords() {
    const std::string& body = recordBody_;
    size_t pos = 0;
    while (pos < body.size()) {
        size_t space = body.find(' ', pos);
        if (space == std::string::npos) return false;
        uint64_t length = 0;
        for (size_t i = pos; i < space && body[i] >= '0' && body[i] <= '9'; ++i) {
            length = length * 10 + static_cast<uint64_t>(body[i] - '0');
            if (length > body.size()) return false;  // also keeps the sum from overflowing
        }
        if (length == 0 || length > body.size() - pos) return false;
        size_t end = pos + static_cast<size_t>(length);  // one past the record's last byte
        // The space must leave room before the record's last byte, or the
        // key and value would have a negative length.
        if (space + 1 > end - 1) return false;
        std::string text = body.substr(space + 1, end - 1 - (space + 1));
        size_t equals = text.find('=');
        if (equals == 4 && text.compare(0, 4, "path") == 0)
            pendingName_ = text.substr(equals + 1);
        pos = end;
    }
    return true;
}

std::string TarReader::headerName() const {
    std::string name = fieldText(header_ + nameOffset, nameSize);
    if (std::memcmp(header_ + magicOffset, "ustar", 5) == 0) {
        std::string prefix = fieldText(header_ + prefixOffset, prefixSize);
        if (!prefix.empty()) name = prefix + "/" + name;
    }
    return name;
}

bool TarReader::processEntry(char type, uint64_t size) {
    std::string name;
    if (!pendingName_.empty()) {
        name.swap(pendingName_);
    } else {
        name = headerName();
    }
    bool endsWithSlash = !name.empty() && name.back() == '/';
    bool folder = type == '5' || (endsWithSlash && (type == '\0' || type == '0'));
    std::wstring relative;
    if (!safeRelativePath(fromUtf8(name), relative))
        return fail(L"The payload has an unsafe file name: " +
                    escapeControlCharacters(fromUtf8(name)));
    if (folder) {
        if (!sink_.MakeDirectory(relative)) return sinkRefused();
        remaining_ = 0;
        blockFill_ = 0;
        state_ = TarState::Header;
        return true;
    }
    if (type != '\0' && type != '0' && type != '7') {
        // The flag is shown as the character it is; bytes above 127 as the
        // Latin-1 character of the same value.
        std::wstring flag = escapeControlCharacters(
            std::wstring(1, static_cast<wchar_t>(static_cast<unsigned char>(type))));
        return fail(formatText(L"The payload has an entry of a kind the setup does not install "
                               L"(type '%ls'): %ls",
                               flag.c_str(), relative.c_str()));
    }
    if (!sink_.BeginFile(relative, size)) return sinkRefused();
    remaining_ = size;
    blockFill_ = fillAfter(size);
    if (size > 0) {
        state_ = TarState::FileData;
        return true;
    }
    if (!sink_.EndFile()) return sinkRefused();
    state_ = TarState::Header;
    return true;
}

bool TarReader::sinkRefused() {
    sinkFailed_ = true;
    return false;
}

bool TarReader::fail(const std::wstring& message) {
    if (error_.empty()) error_ = message;
    return false;
}

}  // namespace qv
