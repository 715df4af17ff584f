#include "zstd_frame.h"

#include "foundation/text.h"

#include <zstd.h>

#include <memory>
#include <vector>

namespace qv {
namespace {

constexpr size_t piece = 1048576;

struct DctxDeleter {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};
using DecoderContext = std::unique_ptr<ZSTD_DCtx, DctxDeleter>;

std::wstring zstdError(size_t code) { return fromUtf8(ZSTD_getErrorName(code)); }

std::wstring prepare(ZSTD_DCtx* context, const uint8_t* prefix, size_t prefixSize) {
    size_t result = ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, maxPatchWindowLog);
    if (!ZSTD_isError(result) && prefixSize > 0) result = ZSTD_DCtx_refPrefix(context, prefix, prefixSize);
    return ZSTD_isError(result) ? zstdError(result) : std::wstring();
}

// Feeds the frame to the decoder piece by piece and hands out what comes.
class FrameDecoder {
public:
    FrameDecoder(ZSTD_DCtx* context, uint64_t frameLength, const FrameSource& source, const FrameSink& sink)
        : context_(context), frameLength_(frameLength), source_(source), sink_(sink), in_(piece), out_(piece) {}

    FrameOutcome run(uint64_t outSize) {
        ZSTD_inBuffer input = {in_.data(), 0, 0};
        for (;;) {
            if (input.pos == input.size && fed_ < frameLength_ && !refill(input)) return {true, {}};
            ZSTD_outBuffer output = {out_.data(), out_.size(), 0};
            size_t before = input.pos;
            size_t result = ZSTD_decompressStream(context_, &output, &input);
            if (ZSTD_isError(result)) return {false, zstdError(result)};
            decoded_ += output.pos;
            if (decoded_ > outSize) return {false, L"the zstd frame decodes to more bytes than it declares"};
            if (output.pos > 0 && !sink_(out_.data(), output.pos)) return {true, {}};
            if (result == 0) break;  // the frame is complete
            // All input given and nothing moved: the frame wants bytes it lacks.
            bool starved = input.pos == input.size && fed_ == frameLength_;
            if (starved && input.pos == before && output.pos == 0) return {false, L"the zstd frame ends early"};
        }
        if (input.pos != input.size || fed_ != frameLength_) return {false, L"bytes follow the zstd frame"};
        if (decoded_ != outSize) return {false, L"the zstd frame decodes to fewer bytes than it declares"};
        return {};
    }

private:
    bool refill(ZSTD_inBuffer& input) {
        size_t length = frameLength_ - fed_ < piece ? static_cast<size_t>(frameLength_ - fed_) : piece;
        if (!source_(in_.data(), length)) return false;
        fed_ += length;
        input = {in_.data(), length, 0};
        return true;
    }

    ZSTD_DCtx* context_;
    uint64_t frameLength_;
    const FrameSource& source_;
    const FrameSink& sink_;
    std::vector<uint8_t> in_;
    std::vector<uint8_t> out_;
    uint64_t fed_ = 0;
    uint64_t decoded_ = 0;
};

}  // namespace

std::wstring checkZstdHeader(const uint8_t* head, size_t headLength, uint64_t outSize, uint64_t* windowSize) {
    ZSTD_frameHeader header;
    size_t result = ZSTD_getFrameHeader(&header, head, headLength);
    if (ZSTD_isError(result)) return L"no zstd frame (" + zstdError(result) + L")";
    if (result != 0) return L"the zstd frame header is cut short";
    if (header.frameType != ZSTD_frame) return L"not a zstd data frame";
    // The size must be known before the first byte is written.
    if (header.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN) return L"the zstd frame declares no size";
    if (header.frameContentSize != outSize)
        return formatText(L"the zstd frame declares %llu bytes, the list %llu",
                          static_cast<unsigned long long>(header.frameContentSize),
                          static_cast<unsigned long long>(outSize));
    if (header.windowSize > (1ull << maxPatchWindowLog))
        return L"the zstd frame asks for a window beyond 2 GiB";
    *windowSize = header.windowSize;
    return {};
}

FrameOutcome decodeZstdFrame(uint64_t frameLength, const FrameSource& source, const uint8_t* prefix,
                             size_t prefixSize, uint64_t outSize, const FrameSink& sink) {
    DecoderContext context(ZSTD_createDCtx());
    if (!context) return {false, L"out of memory for the zstd decoder"};
    std::wstring problem = prepare(context.get(), prefix, prefixSize);
    if (!problem.empty()) return {false, problem};
    FrameDecoder decoder(context.get(), frameLength, source, sink);
    return decoder.run(outSize);
}

}  // namespace qv
