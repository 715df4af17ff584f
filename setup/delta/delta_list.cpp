#include "delta_list.h"

#include "path_fold.h"

#include "setup/release/hex_digest.h"
#include "setup/release/json.h"
#include "setup/unpack/safe_name.h"

#include "foundation/text.h"

#include <map>

namespace qv {
namespace {

constexpr char magic[8] = {'Q', 'V', 'D', 'E', 'L', 'T', 'A', '1'};

uint64_t readLittleEndian64(const uint8_t* bytes) {
    uint64_t value = 0;
    for (int index = 7; index >= 0; --index) value = (value << 8) | bytes[index];
    return value;
}

// A non-negative integer member, or false.
bool readCount(const JsonValue& item, const char* key, uint64_t& value) {
    int64_t number = GetInt(item, key, -1);
    if (number < 0) return false;
    value = static_cast<uint64_t>(number);
    return true;
}

bool readSource(const std::string& kind, const std::string& from, DeltaSource& source) {
    if (kind == "folder") {
        source = DeltaSource::Folder;
        return from.empty();
    }
    if (kind != "file") return false;
    if (from == "unchanged") source = DeltaSource::Unchanged;
    else if (from == "patch") source = DeltaSource::Patch;
    else if (from == "whole") source = DeltaSource::Whole;
    else return false;
    return true;
}

// One entry; dataSize bounds its frame. Returns what is wrong, or empty.
std::wstring readEntry(const JsonValue& item, uint64_t dataSize, DeltaEntry& entry) {
    if (item.type != JsonType::Object) return L"an entry is not an object";
    std::wstring name = fromUtf8(GetString(item, "path", ""));
    if (!safeRelativePath(name, entry.path)) return L"unsafe path \"" + name + L"\"";
    if (!readSource(GetString(item, "kind", ""), GetString(item, "from", ""), entry.source))
        return L"unknown kind of entry for " + name;
    if (entry.source == DeltaSource::Folder) return {};
    entry.sha256 = GetString(item, "sha256", "");
    if (!readCount(item, "size", entry.size) || !isHexDigest(entry.sha256))
        return L"no size or hash for " + name;
    if (entry.source == DeltaSource::Unchanged) return {};
    if (!readCount(item, "offset", entry.offset) || !readCount(item, "length", entry.length) ||
        entry.offset > dataSize || entry.length > dataSize - entry.offset)
        return L"the data of " + name + L" lies outside the delta";
    if (entry.source == DeltaSource::Whole) return {};
    entry.baseSha256 = GetString(item, "baseSha256", "");
    if (!readCount(item, "baseSize", entry.baseSize) || !isHexDigest(entry.baseSha256))
        return L"no base size or hash for " + name;
    return {};
}

// The paths of the tree so far, folded as Windows compares them: a path
// named twice would be one file written twice, and a path under a file
// cannot be made.
class TreeShape {
public:
    std::wstring add(const DeltaEntry& entry) {
        std::wstring folded = foldedPath(entry.path);
        for (size_t at = folded.find(L'\\'); at != std::wstring::npos; at = folded.find(L'\\', at + 1)) {
            Kind& parent = kinds_[folded.substr(0, at)];
            if (parent == Kind::File) return L"the path \"" + entry.path + L"\" lies under a file";
            if (parent == Kind::None) parent = Kind::ImpliedFolder;
        }
        Kind& kind = kinds_[folded];
        if (kind == Kind::ImpliedFolder && entry.source != DeltaSource::Folder)
            return L"entries lie under the file \"" + entry.path + L"\"";
        if (kind == Kind::File || kind == Kind::Folder) return L"the path \"" + entry.path + L"\" appears twice";
        kind = entry.source == DeltaSource::Folder ? Kind::Folder : Kind::File;
        return {};
    }

private:
    enum class Kind { None, ImpliedFolder, Folder, File };
    std::map<std::wstring, Kind> kinds_;
};

}  // namespace

uint64_t declaredListSize(const uint8_t* header) { return readLittleEndian64(header + 8); }

std::wstring readDeltaList(const uint8_t* bytes, uint64_t available, uint64_t fileSize, DeltaList& list) {
    if (available < deltaHeaderSize || fileSize < available ||
        std::string(reinterpret_cast<const char*>(bytes), 8) != std::string(magic, 8))
        return L"not a delta file";
    uint64_t listSize = readLittleEndian64(bytes + 8);
    if (listSize > maxDeltaListSize || listSize > available - deltaHeaderSize)
        return L"the list's length is impossible";
    JsonValue document;
    std::string jsonError;
    if (!ParseJson(std::string(reinterpret_cast<const char*>(bytes + deltaHeaderSize), listSize), document,
                   &jsonError) ||
        document.type != JsonType::Object)
        return L"the list is not a JSON object (" + fromUtf8(jsonError) + L")";
    list.baseVersion = fromUtf8(GetString(document, "baseVersion", ""));
    list.version = fromUtf8(GetString(document, "version", ""));
    const JsonValue* entries = FindMember(document, "entries");
    if (!entries || entries->type != JsonType::Array) return L"the list names no entries";
    if (entries->items.size() > maxDeltaEntries)
        return formatText(L"the list has more than %llu entries", static_cast<unsigned long long>(maxDeltaEntries));
    list.dataOffset = deltaHeaderSize + listSize;
    uint64_t dataSize = fileSize - list.dataOffset;
    TreeShape shape;
    list.entries.clear();
    list.totalBytes = 0;
    for (const JsonValue& item : entries->items) {
        DeltaEntry entry;
        std::wstring problem = readEntry(item, dataSize, entry);
        if (problem.empty()) problem = shape.add(entry);
        if (!problem.empty()) return problem;
        if (entry.size > UINT64_MAX - list.totalBytes) return L"the files' sizes overflow";
        list.totalBytes += entry.size;
        list.entries.push_back(std::move(entry));
    }
    return {};
}

}  // namespace qv
