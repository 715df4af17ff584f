#include "zstd_frame.h"

#include "foundation/text.h"

#include <zstd.h>

#include <memory>

namespace qv {
namespace {

constexpr size_t inputPiece = 1048576;

struct DctxDeleter {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};
using DecoderContext = std::unique_ptr<ZSTD_DCtx, DctxDeleter>;

std::wstring zstdError(size_t code) { return fromUtf8(ZSTD_getErrorName(code)); }

// The header must describe one frame of exactly the expected content,
// with a window the decoder accepts.
std::wstring checkHeader(const uint8_t* frame, size_t length, uint64_t outSize) {
    ZSTD_frameHeader header;
    size_t result = ZSTD_getFrameHeader(&header, frame, length);
    if (ZSTD_isError(result)) return L"no zstd frame (" + zstdError(result) + L")";
    if (result != 0) return L"the zstd frame header is cut short";
    if (header.frameType != ZSTD_frame) return L"not a zstd data frame";
    if (header.frameContentSize != outSize)
        return formatText(L"the zstd frame declares %llu bytes, the list %llu",
                          static_cast<unsigned long long>(header.frameContentSize),
                          static_cast<unsigned long long>(outSize));
    if (header.windowSize > (1ull << maxPatchWindowLog))
        return L"the zstd frame asks for a window beyond 2 GiB";
    size_t frameLength = ZSTD_findFrameCompressedSize(frame, length);
    if (ZSTD_isError(frameLength)) return L"the zstd frame is cut short (" + zstdError(frameLength) + L")";
    if (frameLength != length) return L"bytes follow the zstd frame";
    return {};
}

// A context that writes straight into out (no window buffer of its own)
// and reads the prefix in place.
std::wstring prepare(ZSTD_DCtx* context, const uint8_t* prefix, size_t prefixSize) {
    size_t result = ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, maxPatchWindowLog);
    if (!ZSTD_isError(result)) result = ZSTD_DCtx_setParameter(context, ZSTD_d_stableOutBuffer, 1);
    if (!ZSTD_isError(result) && prefixSize > 0) result = ZSTD_DCtx_refPrefix(context, prefix, prefixSize);
    return ZSTD_isError(result) ? zstdError(result) : std::wstring();
}

}  // namespace

std::wstring decodeZstdFrame(const uint8_t* frame, size_t length, const uint8_t* prefix, size_t prefixSize,
                             uint8_t* out, uint64_t outSize, const ProgressCallback& progress) {
    std::wstring problem = checkHeader(frame, length, outSize);
    if (!problem.empty()) return problem;
    DecoderContext context(ZSTD_createDCtx());
    if (!context) return L"out of memory for the zstd decoder";
    problem = prepare(context.get(), prefix, prefixSize);
    if (!problem.empty()) return problem;

    ZSTD_outBuffer output = {out, static_cast<size_t>(outSize), 0};
    ZSTD_inBuffer input = {frame, 0, 0};
    for (;;) {
        input.size = length - input.pos < inputPiece ? length : input.pos + inputPiece;
        size_t before = input.pos + output.pos;
        size_t result = ZSTD_decompressStream(context.get(), &output, &input);
        if (ZSTD_isError(result)) return zstdError(result);
        if (result == 0) break;  // the frame is complete
        // All input given and nothing moved: the frame wants bytes it lacks.
        if (input.size == length && input.pos + output.pos == before) return L"the zstd frame ends early";
        if (progress && !progress(output.pos, outSize)) return L"stopped";
    }
    if (output.pos != outSize) return L"the zstd frame decodes to fewer bytes than it declares";
    if (progress && !progress(output.pos, outSize)) return L"stopped";
    return {};
}

}  // namespace qv
