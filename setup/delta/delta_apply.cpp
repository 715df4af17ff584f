#include "delta_apply.h"

#include "delta_list.h"
#include "mapped_file.h"
#include "sha256_hasher.h"
#include "zstd_frame.h"

#include "foundation/folder_tree.h"
#include "foundation/paths.h"
#include "foundation/system_facts.h"
#include "foundation/text.h"

#include <cstring>

namespace qv {
namespace {

constexpr uint64_t copyPiece = 4194304;

// The SHA-256 of bytes, or empty text when the provider fails.
std::string hashOf(const uint8_t* bytes, uint64_t length) {
    Sha256Hasher hasher;
    hasher.add(bytes, length);
    return hasher.finish();
}

class TreeBuilder {
public:
    TreeBuilder(const DeltaInputs& inputs, const DeltaList& list, const uint8_t* data,
                const ProgressCallback& progress, DeltaApplyResult& result)
        : inputs_(inputs), list_(list), data_(data), progress_(progress), result_(result) {}

    bool build() {
        for (const DeltaEntry& entry : list_.entries) {
            bool built = entry.source == DeltaSource::Folder ? makeFolder(entry) : makeFile(entry);
            if (!built) return false;
        }
        return true;
    }

private:
    bool fail(const std::wstring& message, DWORD errorCode = 0) {
        result_.message = message;
        result_.errorCode = errorCode;
        return false;
    }
    bool writeFailed(const std::wstring& path, DWORD error) {
        return fail(formatText(L"Could not write %ls: %ls (error %lu)", path.c_str(),
                               windowsErrorText(error).c_str(), error),
                    error);
    }
    bool changed(const DeltaEntry& entry) {
        return fail(joinPath(inputs_.baseFolder, entry.path) + L" changed since it was installed");
    }
    bool cancelled() {
        result_.cancelled = true;
        return fail(L"Cancelled");
    }
    // Progress inside the current file, counted on top of the files done.
    bool report(uint64_t inFile) { return !progress_ || progress_(done_ + inFile, list_.totalBytes); }

    bool makeFolder(const DeltaEntry& entry) {
        std::wstring path = joinPath(inputs_.stagingFolder, entry.path);
        DWORD error = 0;
        return createFolderTree(path, &error) || writeFailed(path, error);
    }

    bool makeFile(const DeltaEntry& entry) {
        std::wstring path = joinPath(inputs_.stagingFolder, entry.path);
        DWORD error = 0;
        if (!createFolderTree(parentFolder(path), &error)) return writeFailed(parentFolder(path), error);
        MappedFile out;
        if (!out.createForWriting(path, entry.size, &error)) return writeFailed(path, error);
        bool made = entry.source == DeltaSource::Unchanged ? copyBase(entry, out) : decode(entry, out);
        if (!made) return false;
        done_ += entry.size;
        result_.files += 1;
        result_.bytes += entry.size;
        return report(0) || cancelled();
    }

    // The installed file, copied while it is hashed: a file that was
    // changed after the install shows as a wrong hash.
    bool copyBase(const DeltaEntry& entry, MappedFile& out) {
        MappedFile base;
        std::wstring basePath = joinPath(inputs_.baseFolder, entry.path);
        if (!base.openForReading(basePath, nullptr) || base.size() != entry.size) return changed(entry);
        Sha256Hasher hasher;
        for (uint64_t at = 0; at < entry.size; at += copyPiece) {
            uint64_t piece = entry.size - at < copyPiece ? entry.size - at : copyPiece;
            hasher.add(base.data() + at, piece);
            std::memcpy(out.writable() + at, base.data() + at, static_cast<size_t>(piece));
            if (!report(at + piece)) return cancelled();
        }
        return hasher.finish() == entry.sha256 || changed(entry);
    }

    bool decode(const DeltaEntry& entry, MappedFile& out) {
        MappedFile base;
        if (entry.source == DeltaSource::Patch) {
            std::wstring basePath = joinPath(inputs_.baseFolder, entry.path);
            if (!base.openForReading(basePath, nullptr) || base.size() != entry.baseSize ||
                hashOf(base.data(), base.size()) != entry.baseSha256)
                return changed(entry);
        }
        bool stopped = false;
        auto onDecoded = [this, &stopped](uint64_t inFile, uint64_t) {
            stopped = !report(inFile);
            return !stopped;
        };
        std::wstring problem =
            decodeZstdFrame(data_ + entry.offset, static_cast<size_t>(entry.length), base.data(),
                            static_cast<size_t>(base.size()), out.writable(), entry.size, onDecoded);
        if (stopped) return cancelled();
        if (!problem.empty()) return fail(L"The data of " + entry.path + L" does not decode: " + problem);
        if (hashOf(out.data(), entry.size) != entry.sha256)
            return fail(L"The data of " + entry.path + L" decodes to the wrong bytes");
        return true;
    }

    const DeltaInputs& inputs_;
    const DeltaList& list_;
    const uint8_t* data_;
    const ProgressCallback& progress_;
    DeltaApplyResult& result_;
    uint64_t done_ = 0;
};

}  // namespace

DeltaApplyResult applyDelta(const DeltaInputs& inputs, const ProgressCallback& progress) {
    DeltaApplyResult result;
    MappedFile delta;
    DWORD error = 0;
    if (!delta.openForReading(inputs.deltaPath, &error)) {
        result.message = formatText(L"Could not open %ls: %ls", inputs.deltaPath.c_str(),
                                    windowsErrorText(error).c_str());
        return result;
    }
    DeltaList list;
    std::wstring problem = readDeltaList(delta.data(), delta.size(), list);
    bool checkVersions = !inputs.baseVersion.empty() || !inputs.version.empty();
    bool otherVersions = !equalsIgnoreCase(list.baseVersion, inputs.baseVersion) ||
                         !equalsIgnoreCase(list.version, inputs.version);
    if (problem.empty() && checkVersions && otherVersions)
        problem = L"it leads from " + list.baseVersion + L" to " + list.version;
    if (!problem.empty()) {
        result.message = L"The delta is damaged: " + problem;
        return result;
    }
    TreeBuilder builder(inputs, list, delta.data() + list.dataOffset, progress, result);
    result.ok = builder.build();
    return result;
}

}  // namespace qv
