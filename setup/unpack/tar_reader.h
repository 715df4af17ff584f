// The payload's tar format: a push parser that turns the decompressed bytes,
// fed in pieces of any size, into folder and file calls on a sink. Accepted
// are ustar headers (with the prefix field), GNU long names ('L') and pax
// "path" records ('x'); pax global headers ('g') are read and ignored; links,
// devices and every other kind stop the reader. Every name passes the safe
// name rule before the sink sees it. No Windows header is needed here, so the
// reader also builds natively for fuzzing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qv {

// Receives the entries of an archive. A call that returns false has recorded
// its own error; the reader then stops without a message of its own.
class TarSink {
public:
    virtual ~TarSink() = default;
    // A folder, as a safe path relative to the unpack root.
    virtual bool MakeDirectory(const std::wstring& relativePath) = 0;
    // A file of size bytes; its data follows through Write, then EndFile.
    virtual bool BeginFile(const std::wstring& relativePath, uint64_t size) = 0;
    virtual bool Write(const uint8_t* bytes, size_t length) = 0;
    virtual bool EndFile() = 0;
};

enum class TarState : int32_t { Header = 0, FileData = 1, SkipFill = 2, RecordBody = 3, End = 4 };

// The data of 'L', 'x' and 'g' entries is held in memory up to this size.
inline constexpr uint64_t maxTarRecordSize = 1048576;

class TarReader {
public:
    // The sink is not owned and must outlive the reader.
    explicit TarReader(TarSink& sink);
    TarReader(const TarReader&) = delete;
    TarReader& operator=(const TarReader&) = delete;

    // Consumes length bytes. False when the reader or the sink failed (then
    // every later call is false too); error() holds the reader's message,
    // empty when the sink failed. After the end marker the rest is ignored.
    bool Feed(const uint8_t* bytes, size_t length);

    // End once the two zero blocks that close an archive were read.
    TarState state() const { return state_; }
    const std::wstring& error() const { return error_; }

private:
    size_t feedHeader(const uint8_t* bytes, size_t length, bool& ok);
    size_t feedFileData(const uint8_t* bytes, size_t length, bool& ok);
    size_t feedRecordBody(const uint8_t* bytes, size_t length, bool& ok);
    bool processHeader();
    bool beginRecord(char type, uint64_t size);
    bool processRecord();
    bool parsePaxRecords();
    bool processEntry(char type, uint64_t size);
    std::string headerName() const;
    void afterData();
    bool fail(const std::wstring& message);
    bool sinkRefused();

    TarSink& sink_;
    TarState state_ = TarState::Header;
    uint8_t header_[512] = {};
    size_t headerFill_ = 0;
    uint64_t remaining_ = 0;
    uint64_t blockFill_ = 0;
    char recordType_ = 0;
    std::string recordBody_;
    std::string pendingName_;
    int32_t zeroBlocks_ = 0;
    std::wstring error_;
    // Set once the sink refused a call, so that a later Feed cannot carry on
    // in the middle of an entry the sink has given up on.
    bool sinkFailed_ = false;
};

}  // namespace qv
