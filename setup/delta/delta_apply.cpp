#include "delta_apply.h"

#include "delta_list.h"
#include "file_reader.h"
#include "zstd_frame.h"

#include "setup/release/download_meter.h"
#include "setup/release/sha256_hasher.h"
#include "setup/unpack/unpack_result.h"

#include "foundation/paths.h"
#include "foundation/system_facts.h"
#include "foundation/text.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

namespace qv {
namespace {

constexpr size_t copyPiece = 1048576;

std::wstring unreadableText(const std::wstring& path, DWORD error) {
    return formatText(L"%ls could not be read (error %lu)", path.c_str(), static_cast<unsigned long>(error));
}

class TreeBuilder {
public:
    TreeBuilder(const DeltaInputs& inputs, const DeltaList& list, const FileReader& delta,
                const DeltaFileCalls& calls, const ProgressCallback& progress, DeltaApplyResult& result)
        : inputs_(inputs), list_(list), delta_(delta), calls_(calls), progress_(progress), result_(result),
          sink_(makeDiskSink(inputs.stagingFolder, written_, calls.sink)), buffer_(copyPiece) {}

    bool build() {
        bool built = true;
        for (const DeltaEntry& entry : list_.entries) {
            built = entry.source == DeltaSource::Folder ? sink_->MakeDirectory(entry.path) || sinkFailed()
                                                        : makeFile(entry);
            if (!built) break;
        }
        result_.files = written_.files;
        result_.bytes = written_.bytes;
        return built;
    }

private:
    bool fail(const std::wstring& message) {
        result_.message = message;
        return false;
    }
    bool sinkFailed() { return fail(written_.message); }
    std::wstring basePath(const DeltaEntry& entry) const { return joinPath(inputs_.baseFolder, entry.path); }
    bool changed(const DeltaEntry& entry) { return fail(basePath(entry) + L" changed since it was installed"); }
    // A file that is gone, or shorter than it was, has changed; any other
    // error (another program holding it, a failing disk) is no change of
    // the user's and keeps its code for the log.
    bool baseUnreadable(const DeltaEntry& entry, DWORD error) {
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_HANDLE_EOF)
            return changed(entry);
        return fail(unreadableText(basePath(entry), error));
    }
    bool undecodable(const DeltaEntry& entry, const std::wstring& problem) {
        return fail(L"The data of " + entry.path + L" does not decode: " + problem);
    }
    bool cancelled() {
        result_.cancelled = true;
        return fail(L"Cancelled");
    }
    // Progress inside the current file, counted on top of the files done.
    bool report(uint64_t inFile) { return !progress_ || progress_(done_ + inFile, list_.totalBytes); }

    bool makeFile(const DeltaEntry& entry) {
        if (!sink_->BeginFile(entry.path, entry.size)) return sinkFailed();
        bool made = entry.source == DeltaSource::Unchanged ? copyBase(entry) : decode(entry);
        if (!made) return false;
        if (!sink_->EndFile()) return sinkFailed();
        done_ += entry.size;
        return report(0) || cancelled();
    }

    // The installed file, copied while it is hashed: a file that was
    // changed after the install shows as a wrong hash.
    bool copyBase(const DeltaEntry& entry) {
        FileReader base(calls_.readFile);
        DWORD error = 0;
        if (!base.open(basePath(entry), &error)) return baseUnreadable(entry, error);
        if (base.size() != entry.size) return changed(entry);
        Sha256Hasher hasher;
        for (uint64_t at = 0; at < entry.size; at += copyPiece) {
            size_t piece = static_cast<size_t>(std::min<uint64_t>(entry.size - at, copyPiece));
            if (!base.readAt(at, buffer_.data(), piece, &error)) return baseUnreadable(entry, error);
            hasher.add(buffer_.data(), piece);
            if (!sink_->Write(buffer_.data(), piece)) return sinkFailed();
            if (!report(at + piece)) return cancelled();
        }
        return hasher.finish() == entry.sha256 || changed(entry);
    }

    // The installed file a patch starts from, read whole into memory of
    // the setup's own and proved before it is used.
    bool readPatchBase(const DeltaEntry& entry, std::unique_ptr<uint8_t[]>& bytes) {
        FileReader base(calls_.readFile);
        DWORD error = 0;
        if (!base.open(basePath(entry), &error)) return baseUnreadable(entry, error);
        if (base.size() != entry.baseSize) return changed(entry);
        bytes.reset(new (std::nothrow) uint8_t[static_cast<size_t>(entry.baseSize) + 1]);
        if (!bytes) return fail(L"Out of memory for " + basePath(entry));
        if (!base.readAt(0, bytes.get(), static_cast<size_t>(entry.baseSize), &error))
            return baseUnreadable(entry, error);
        Sha256Hasher hasher;
        hasher.add(bytes.get(), entry.baseSize);
        return hasher.finish() == entry.baseSha256 || changed(entry);
    }

    // Reads the frame's header and checks that decoding it stays within
    // maxDecodeMemory; *windowSize gets the frame's window.
    bool checkFrame(const DeltaEntry& entry, uint64_t frameAt, uint64_t* windowSize) {
        uint8_t head[zstdHeaderBytes];
        size_t headLength = static_cast<size_t>(std::min<uint64_t>(entry.length, zstdHeaderBytes));
        DWORD error = 0;
        if (!delta_.readAt(frameAt, head, headLength, &error))
            return fail(unreadableText(inputs_.deltaPath, error));
        std::wstring problem = checkZstdHeader(head, headLength, entry.size, windowSize);
        if (!problem.empty()) return undecodable(entry, problem);
        uint64_t prefix = entry.source == DeltaSource::Patch ? entry.baseSize : 0;
        uint64_t window = std::min(entry.size, *windowSize);
        if (prefix > maxDecodeMemory || window > maxDecodeMemory - prefix)
            return undecodable(entry, L"it needs more than " + megabytesText(maxDecodeMemory) + L" of memory");
        return true;
    }

    bool decode(const DeltaEntry& entry) {
        uint64_t frameAt = list_.dataOffset + entry.offset;
        uint64_t windowSize = 0;
        if (!checkFrame(entry, frameAt, &windowSize)) return false;
        std::unique_ptr<uint8_t[]> base;
        bool patch = entry.source == DeltaSource::Patch;
        if (patch && !readPatchBase(entry, base)) return false;

        Sha256Hasher hasher;
        uint64_t fed = 0;
        uint64_t inFile = 0;
        FrameSource source = [&](uint8_t* bytes, size_t length) {
            DWORD error = 0;
            if (!delta_.readAt(frameAt + fed, bytes, length, &error))
                return fail(unreadableText(inputs_.deltaPath, error));
            fed += length;
            return true;
        };
        FrameSink sink = [&](const uint8_t* bytes, size_t length) {
            hasher.add(bytes, length);
            if (!sink_->Write(bytes, length)) return sinkFailed();
            inFile += length;
            return report(inFile) || cancelled();
        };
        FrameOutcome outcome = decodeZstdFrame(entry.length, source, base.get(),
                                               patch ? static_cast<size_t>(entry.baseSize) : 0, entry.size, sink);
        if (outcome.stopped) return false;  // the message is already set
        if (!outcome.problem.empty()) return undecodable(entry, outcome.problem);
        if (hasher.finish() != entry.sha256)
            return fail(L"The data of " + entry.path + L" decodes to the wrong bytes");
        return true;
    }

    const DeltaInputs& inputs_;
    const DeltaList& list_;
    const FileReader& delta_;
    const DeltaFileCalls& calls_;
    const ProgressCallback& progress_;
    DeltaApplyResult& result_;
    UnpackResult written_;
    std::unique_ptr<TarSink> sink_;
    std::vector<uint8_t> buffer_;
    uint64_t done_ = 0;
};

// Why the list cannot be used for this run, or empty text.
std::wstring listMismatch(const DeltaList& list, const DeltaInputs& inputs) {
    bool checkVersions = !inputs.baseVersion.empty() || !inputs.version.empty();
    if (checkVersions && (!equalsIgnoreCase(list.baseVersion, inputs.baseVersion) ||
                          !equalsIgnoreCase(list.version, inputs.version)))
        return L"it leads from " + list.baseVersion + L" to " + list.version;
    // An empty or partial list would otherwise build a tree that passes.
    if (inputs.unpackedSize && list.totalBytes != *inputs.unpackedSize)
        return formatText(L"its files add up to %llu bytes, the release's to %llu",
                          static_cast<unsigned long long>(list.totalBytes),
                          static_cast<unsigned long long>(*inputs.unpackedSize));
    return {};
}

// Reads the list from the start of the delta. Empty text, or the message
// for the log.
std::wstring loadList(const FileReader& delta, const DeltaInputs& inputs, DeltaList& list) {
    std::vector<uint8_t> head(static_cast<size_t>(std::min(delta.size(), deltaHeaderSize)));
    DWORD error = 0;
    if (!delta.readAt(0, head.data(), head.size(), &error)) return unreadableText(inputs.deltaPath, error);
    if (head.size() == deltaHeaderSize) {
        uint64_t listSize = declaredListSize(head.data());
        // A length beyond the file or the limit is left unread; the reader
        // then refuses it.
        if (listSize <= maxDeltaListSize && listSize <= delta.size() - deltaHeaderSize) {
            head.resize(static_cast<size_t>(deltaHeaderSize + listSize));
            if (!delta.readAt(deltaHeaderSize, head.data() + deltaHeaderSize, static_cast<size_t>(listSize), &error))
                return unreadableText(inputs.deltaPath, error);
        }
    }
    std::wstring problem = readDeltaList(head.data(), head.size(), delta.size(), list);
    if (problem.empty()) problem = listMismatch(list, inputs);
    return problem.empty() ? problem : L"The delta is damaged: " + problem;
}

}  // namespace

DeltaApplyResult applyDelta(const DeltaInputs& inputs, const ProgressCallback& progress,
                            const DeltaFileCalls& calls) {
    DeltaApplyResult result;
    FileReader delta(calls.readFile);
    DWORD error = 0;
    if (!delta.open(inputs.deltaPath, &error)) {
        result.message = formatText(L"Could not open %ls: %ls", inputs.deltaPath.c_str(),
                                    windowsErrorText(error).c_str());
        return result;
    }
    DeltaList list;
    result.message = loadList(delta, inputs, list);
    if (!result.message.empty()) return result;
    TreeBuilder builder(inputs, list, delta, calls, progress, result);
    result.ok = builder.build();
    return result;
}

}  // namespace qv
